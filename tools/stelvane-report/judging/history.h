// The runs a site keeps, as the history each node is held against
// (own_normal.h): what one run says of each node, and the nodes' histories
// built from runs fed in time order.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "judging/verdict.h"
#include "reading/run_summary.h"

// What a judged run says of each node, as its history keeps it.
RunSummary summarize(const ResultFile& file, const Verdicts& verdicts);

// The peer verdict's rule in one line, as a history index records what its
// summaries were judged by.
std::string peer_rule_text();

// The nodes' earlier runs. Feed runs oldest first: each is held against the
// runs fed before it, then joins them.
// The nodes of one run held against their earlier runs: each one's own
// normal, in the run's order, and how far the nodes' ratios stray from run to
// run in each measurement (own_normal.h).
struct HeldRun {
  std::vector<OwnNormal> normals;
  double run_to_run[MEASUREMENT_COUNT];
};

class NodeHistories {
 public:
  // Every node of `run` against its earlier runs; with `trend`, each normal
  // with its earlier ratios.
  HeldRun take(const RunSummary& run, bool trend);

 private:
  struct Point {
    int workers = 0;
    double ratios[MEASUREMENT_COUNT];
    bool judged[MEASUREMENT_COUNT] = {};
    bool counts[MEASUREMENT_COUNT] = {};  // makes its normal there: judged, and not slow, failed or low then
    bool low[MEASUREMENT_COUNT] = {};
    bool low_run = false;
  };
  // The node's last HISTORY_WINDOW earlier points with as many workers, oldest first.
  std::vector<const Point*> window(const std::vector<Point>& points, int workers) const;
  // Each node's normal and spread from its window.
  std::vector<OwnNormal> normals_of(const std::vector<std::vector<const Point*>>& windows, bool trend) const;
  // A node's finite ratios in measurement m, of the points that make its
  // normal there or of all.
  static std::vector<double> ratios_in(const std::vector<const Point*>& points, int m, bool counted_only);
  // The median over the nodes of how far each one's ratios stray in its window.
  static void run_to_run(const std::vector<std::vector<const Point*>>& windows, double (&spreads)[MEASUREMENT_COUNT]);
  // Its line, where this run's ratios lie, and its low runs.
  static void hold(const RunSummary& run, const RunSummary::Node& node, const std::vector<const Point*>& earlier,
                   OwnNormal& own);
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
