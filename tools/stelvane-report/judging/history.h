// The runs a site keeps, as the history each node is held against
// (own_normal.h): what one run says of each node, and the nodes' histories
// built from runs fed in time order.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "judging/cluster_change.h"
#include "judging/verdict.h"
#include "reading/run_summary.h"

// What a judged run says of each node, as its history keeps it: each node's
// ratios to every node alike, whatever the groups, and its verdict by its
// peers; with `by_kind`, its ratios within its group instead.
RunSummary summarize(const ResultFile& file, const Verdicts& verdicts, bool by_kind = false);

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
  // Every node of a run against its earlier runs: `fleet` as the run is
  // kept, with each node's level against the cluster (against_reference),
  // which the nodes' normals are made of; `by_kind` the same nodes judged
  // within their groups, whose verdicts say which runs count toward a
  // normal. With `trend`, each normal with its earlier levels.
  HeldRun take(const RunSummary& fleet, const RunSummary& by_kind, bool trend);
  // A run whose nodes are all of one kind.
  HeldRun take(const RunSummary& run, bool trend) { return take(run, run, trend); }

  // Each node's level: in each measurement, the median of its ratios to
  // every node alike in its earlier judged runs of the same shape; NaN with
  // fewer than MIN_HISTORY_RUNS of them.
  std::vector<NodeLevel> levels(const RunSummary& run) const;

 private:
  struct Point {
    int workers = 0;
    double ratios[MEASUREMENT_COUNT];   // its level against the cluster, whatever its group
    double figures[MEASUREMENT_COUNT];  // the median of its ranks' figures
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
  // The node's figures in this run over its usual ones (OwnNormal::change),
  // where it has a normal.
  static void take_change(const RunSummary::Node& node, const std::vector<const Point*>& earlier, OwnNormal& own);
  // Its line, where this run's ratios lie, and its low runs.
  static void hold(const RunSummary& run, const RunSummary::Node& node, const std::vector<const Point*>& earlier,
                   OwnNormal& own);
  // The run joins the histories.
  void remember(const RunSummary& fleet, const RunSummary& by_kind, const std::vector<OwnNormal>& normals);
  std::unordered_map<std::string, std::vector<Point>> points_;
};

// Holds each judged run against the runs of `history` before it and sets
// each node's own normal, its verdict from both lines, and its probable
// cause. Runs are placed by their time stamps; when some run has none, in
// the order given, history first. A history run with the stamped file name
// of a judged run is that run, and is left out.
// Each run is judged within the declared groups when given, else within the
// kinds learned from the runs before it: what the kept runs know wins over
// what one run shows, so nodes they hold alike stay one kind, however many
// of them fall together. Kinds seen in the run place only the nodes the
// kept runs do not know yet (new nodes, or every node in a first run).
// Its nodes' normals are made of their levels against the cluster
// (own_normal.h); falls that several nodes share are named (shared_falls.h),
// and the cluster is held against its kept runs (cluster_change.h).
void judge_against_history(std::vector<JudgedRun>& judged, const std::vector<RunSummary>& history,
                           const std::vector<DeclaredGroup>* declared = nullptr);

// The groups a run is judged in, given its nodes' levels (NodeHistories).
Grouping history_grouping(const RunSummary& run, const std::vector<NodeLevel>& levels,
                          const std::vector<DeclaredGroup>* declared);

// Each node's level against the cluster: its figure over the median figure
// of the reference nodes (those with as many workers, while there are two),
// the reference being the first group of `grouping` (the fastest kind, or
// the first declared group; every node without groups), and of it the nodes
// the history knows (those with a level), when it knows any. A median of a
// group stays put from run to run, where the median of a fleet of two kinds
// half and half jumps from one kind to the other; and nodes that join the
// cluster do not move the known nodes' levels, however many and however
// fast. The run as it is when it keeps no figures.
RunSummary against_reference(const RunSummary& run, const Grouping& grouping, const std::vector<NodeLevel>& levels);

// A kept run judged again within these groups, from its ratios to every node:
// its ratios within its group and its verdict by its kind. The run as it is
// for a trivial grouping.
RunSummary judged_by_kind(const RunSummary& run, const Grouping& grouping);
