// Which nodes got slower since an earlier run, and each node's history.
//
// A node's figure in a run is the one its verdict takes (verdict.h): the
// median of its workers' figures. For each node in both runs and each
// measurement, its change is its figure in the run over its figure in the
// baseline. The cluster's shift is the median of all nodes' changes, so that
// an update that moves every node (a kernel, a firmware) moves the shift and
// names nobody. A node is slower in a measurement when its change is below
// SLOWER_RATIO times the shift, and slower than the cluster when it is so in
// at least SLOWER_MEASUREMENTS measurements judged in both runs. Nodes that
// run a different number of workers in the two runs are not compared.
#pragma once

#include <string>
#include <vector>

#include "judging/verdict.h"

inline constexpr double SLOWER_RATIO = 0.6;
inline constexpr int SLOWER_MEASUREMENTS = 2;

struct NodeChange {
  std::string node;
  bool comparable = false;                // as many workers in both runs
  double change[MEASUREMENT_COUNT];       // run / baseline; NaN when not compared
  double relative[MEASUREMENT_COUNT];     // change / the cluster's shift
  bool slower_in[MEASUREMENT_COUNT] = {};
  bool slower = false;
};

struct RunComparison {
  const ResultFile* baseline = nullptr;
  const ResultFile* run = nullptr;
  double shift[MEASUREMENT_COUNT];        // median change over the nodes
  bool judged[MEASUREMENT_COUNT] = {};    // judged in both runs
  std::vector<NodeChange> nodes;          // in both runs: slower ones first, then by name
  std::vector<std::string> only_in_baseline;
  std::vector<std::string> only_in_run;
  std::vector<std::string> slower() const;
};

RunComparison compare_runs(const ResultFile& baseline, const ResultFile& run);

// One node's figures over the runs, in the order the runs were given; the
// nodes in the order of their names.
struct NodeHistory {
  struct Point {
    bool present = false;  // the node ran in this run
    Verdict verdict = Verdict::ok;
    double figures[MEASUREMENT_COUNT] = {NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE};
    double ratios[MEASUREMENT_COUNT] = {NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE};
  };
  std::string node;
  std::vector<Point> points;  // one per run
};

std::vector<NodeHistory> node_histories(const std::vector<const ResultFile*>& runs);

