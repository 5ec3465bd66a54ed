// The blocks of a whole report in the order rank 0 writes them, for those
// that rebuild a report without running the benchmark: stelvane-report's
// grammar, and the test generator of result files. The benchmark itself
// walks the same order as it measures (WORKLOAD_ORDER, measurements_of).
#pragma once

#include <string>
#include <vector>

#include "layouts.h"

enum class BlockKind {
  banner,              // with the rank count
  notice,              // "Force to be single thread."
  single_heading,      // before rank 0 measures a workload alone
  single_figures,      // rank 0's lines of one measurement
  collection_heading,  // before the workers' lines of a workload
  worker_figures,      // one worker's lines of one measurement
  summary,             // a workload's cluster summary
  closing              // the blank lines after the last report line
};

struct OutlineBlock {
  BlockKind kind;
  Workload workload = Workload::streams;
  MeasurementId measurement = STREAMS;
  int worker = 0;  // worker_figures: the worker's rank
};

// Calls visit(block) for every block of a report of `ranks` ranks, in order.
template <class Visit>
void for_each_block(int ranks, Visit&& visit) {
  visit(OutlineBlock{BlockKind::banner});
  visit(OutlineBlock{BlockKind::notice});
  for (Workload workload : WORKLOAD_ORDER) {
    visit(OutlineBlock{BlockKind::single_heading, workload});
    const WorkloadMeasurements ids = measurements_of(workload);
    for (int i = 0; i < ids.count(); ++i) visit(OutlineBlock{BlockKind::single_figures, workload, ids.at(i)});
  }
  if (ranks > 1) {
    for (Workload workload : WORKLOAD_ORDER) {
      visit(OutlineBlock{BlockKind::collection_heading, workload});
      const WorkloadMeasurements ids = measurements_of(workload);
      for (int i = 0; i < ids.count(); ++i)
        for (int worker = 1; worker < ranks; ++worker)
          visit(OutlineBlock{BlockKind::worker_figures, workload, ids.at(i), worker});
      visit(OutlineBlock{BlockKind::summary, workload});
    }
  }
  visit(OutlineBlock{BlockKind::closing});
}

// Everything a report prints, for building one without running the benchmark.
struct ReportFigures {
  struct Worker {
    int rank_label;    // printed after "Thread:"
    std::string name;  // processor name
    double seconds;
    double rate;
  };
  int ranks = 1;
  double single_seconds[MEASUREMENT_COUNT] = {};
  double single_rate[MEASUREMENT_COUNT] = {};
  std::vector<Worker> workers[MEASUREMENT_COUNT];  // [measurement][rank - 1]
  ClusterFigures cluster[MEASUREMENT_COUNT] = {};
};

// The lines of one block of the report, from the figures.
ReportBlock report_block(const OutlineBlock& block, const ReportFigures& figures);
