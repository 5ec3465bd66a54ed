#include "report_outline.h"

ReportBlock report_block(const OutlineBlock& block, const ReportFigures& figures) {
  const MeasurementId m = block.measurement;
  switch (block.kind) {
    case BlockKind::banner: return banner(figures.ranks);
    case BlockKind::notice: return single_thread_notice();
    case BlockKind::single_heading: return single_phase_heading(block.workload);
    case BlockKind::single_figures: return single_figures(m, figures.single_seconds[m], figures.single_rate[m]);
    case BlockKind::collection_heading: return collection_heading(block.workload);
    case BlockKind::worker_figures: {
      const ReportFigures::Worker& worker = figures.workers[m][block.worker - 1];
      return worker_figures(m, worker.rank_label, worker.name, worker.seconds, worker.rate);
    }
    case BlockKind::summary: {
      const WorkloadMeasurements ids = measurements_of(block.workload);
      if (ids.count() == 1) return file_handling_summary(figures.cluster[ids.first]);
      return transfer_summary(block.workload, figures.cluster[ids.write()], figures.cluster[ids.read()]);
    }
    case BlockKind::closing: return closing_blank_lines();
  }
  return {};
}
