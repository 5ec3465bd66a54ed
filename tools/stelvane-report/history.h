// The runs a site keeps, as the history each node is held against
// (own_normal.h): what one run says of each node, and the nodes' histories
// built from runs fed in time order.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "verdict.h"

// What one run says of each node: all a history needs of it, and what the
// history index keeps of a file.
struct RunSummary {
  struct Node {
    std::string name;
    int workers = 0;
    Verdict verdict = Verdict::ok;      // by its peers, in that run
    double ratios[MEASUREMENT_COUNT];   // NaN where not compared or not judged
  };
  std::string source;
  RunStamp stamp;
  std::vector<Node> nodes;
};

RunSummary summarize(const ResultFile& file, const Verdicts& verdicts);

// The nodes' earlier runs. Feed runs oldest first: each is held against the
// runs fed before it, then joins them.
class NodeHistories {
 public:
  // One OwnNormal per node of `run`, in its order; with `trend`, each with
  // its earlier ratios.
  std::vector<OwnNormal> take(const RunSummary& run, bool trend);

 private:
  struct Point {
    int workers = 0;
    double ratios[MEASUREMENT_COUNT];
    bool counts[MEASUREMENT_COUNT] = {};  // makes its normal there: not slow, failed or low then
    bool low[MEASUREMENT_COUNT] = {};
    bool low_run = false;
  };
  // The node's last HISTORY_WINDOW earlier points with as many workers, oldest first.
  std::vector<const Point*> window(const std::vector<Point>& points, int workers) const;
  // Each node's normal and spread from its window.
  std::vector<OwnNormal> normals_of(const std::vector<std::vector<const Point*>>& windows, bool trend) const;
  // Its line, where this run's ratios lie, and its low runs.
  static void hold(const RunSummary::Node& node, const std::vector<const Point*>& earlier, OwnNormal& own);
  // The run joins the histories.
  void remember(const RunSummary& run, const std::vector<OwnNormal>& normals);
  std::unordered_map<std::string, std::vector<Point>> points_;
};

// Holds each judged run against the runs of `history` before it and sets
// each node's own normal, its verdict from both lines, and its probable
// cause. Runs are placed by their time stamps; when some run has none, in
// the order given, history first. A history run with the stamped file name
// of a judged run is that run, and is left out.
void judge_against_history(std::vector<JudgedRun>& judged, const std::vector<RunSummary>& history);
