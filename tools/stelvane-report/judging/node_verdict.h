// The verdict on each node of a run, and the words of the rule behind it
// (verdict.h): what every stage after judging reads.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "judging/causes.h"
#include "judging/cluster_change.h"
#include "judging/groups.h"
#include "judging/measurement_flags.h"
#include "judging/own_normal.h"
#include "judging/shared_falls.h"
#include "judging/robust.h"
#include "reading/result_reader.h"
#include "reading/run_summary.h"

inline constexpr double LOW_RATIO_FLOOR = 0.5;     // a ratio below this is low, however the others scatter
inline constexpr double LOW_RATIO_CEILING = 0.8;   // a ratio above this is never low
inline constexpr double LOW_SPREADS = 4.0;         // robust standard deviations below 1
inline constexpr int SLOW_MEASUREMENTS = 2;
inline constexpr double MIN_JUDGED_SECONDS = 0.02;
inline constexpr int MIN_COMPARED_NODES = 3;  // a node and at least two others to compare it with

const char* verdict_name(Verdict verdict);  // "ok", "suspect", "slow", "failed"
Verdict worse_of(Verdict a, Verdict b);

struct NodeVerdict {
  std::string node;
  std::vector<int> ranks;  // in rank order; 0 when rank 0 runs there
  int workers = 0;
  Verdict verdict = Verdict::ok;      // the worse of the two lines'
  Verdict by_peers = Verdict::ok;
  Verdict by_own_normal = Verdict::ok;  // ok where it has no own normal
  OwnNormal own;
  ProbableCause cause;                // none for ok and failed nodes
  double figures[MEASUREMENT_COUNT];  // median of its workers' figures (rank 0's alone: its own)
  double ratios[MEASUREMENT_COUNT];   // figure / median of the others; NaN when not compared
  double fleet_ratios[MEASUREMENT_COUNT];  // the same against every node alike, whatever the groups
  int group = -1;                     // index into Verdicts::groups; -1: in none
  int fall = -1;                      // index into Verdicts::falls; -1: in none
  bool between_kinds = false;         // out of line for its kind, toward another: not told apart
  bool between[MEASUREMENT_COUNT] = {};  // where it lies so
  double lines[MEASUREMENT_COUNT];    // the ratio below which it is low; NaN when not compared
  bool low[MEASUREMENT_COUNT] = {};   // judged and below its peer line
  bool failed[MEASUREMENT_COUNT] = {};
  bool measured[MEASUREMENT_COUNT] = {};  // its ranks took part: it is compared there
  int no_answer_in = -1;              // a rank of it gave no answer from this measurement on; -1: none
  std::vector<int> low_in() const { return measurements_where(low); }
  std::vector<int> failed_in() const { return measurements_where(failed); }
  double worst_ratio(const bool judged[MEASUREMENT_COUNT]) const;  // lowest judged ratio, NaN when none
};

struct Verdicts {
  std::vector<NodeVerdict> nodes;         // worst first: failed, slow, suspect, ok; then by worst ratio
  bool judged[MEASUREMENT_COUNT] = {};    // long enough to count
  double median_seconds[MEASUREMENT_COUNT];
  // How far the nodes' ratios stray from run to run: the median over the
  // nodes with a history of the robust spread of their ratios in their
  // earlier runs, judged or not (OWN_SPREAD_FLOOR at least); NaN without a
  // history there.
  double run_to_run[MEASUREMENT_COUNT] = {NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE, NO_FIGURE};
  bool enough_nodes = false;              // at least MIN_COMPARED_NODES with figures
  std::vector<GroupReport> groups;        // the groups the nodes were judged in; empty: none
  std::vector<SharedFall> falls;          // below their own normals together
  ClusterChange cluster;                  // against the kept runs; unknown without them
  std::unordered_map<std::string, std::size_t> index;  // node name: its place in nodes
  const NodeVerdict* of(const std::string& node) const;
  // Whether a worker's figure in measurement m counts against its node: the
  // node is slow, and low in m by either line.
  bool slow_in(const WorkerFigures& worker, int m) const;
  std::vector<std::string> named(Verdict verdict) const;
  double median_line(int m) const;  // the median of the nodes' lines in measurement m (NaN when none)
  double peer_ceiling(int m) const;  // the highest the peer line may lie in m from run_to_run; NaN: no history
  std::size_t held_against_own_normal() const;  // nodes with an own normal in some measurement
};

// How many nodes have each verdict.
class VerdictCounts {
 public:
  explicit VerdictCounts(const Verdicts& verdicts);
  std::size_t operator[](Verdict verdict) const { return counts_[static_cast<int>(verdict)]; }

 private:
  std::size_t counts_[VERDICT_COUNT] = {};
};

// Failed, slow, suspect, ok; within each, the lowest judged ratio first; and
// the index made anew.
void order_worst_first(Verdicts& verdicts);

// A run and the verdicts on its nodes: what every output shows.
struct JudgedRun {
  const ResultFile* file = nullptr;
  Verdicts verdicts;
  int history_runs = -1;  // earlier runs it was held against; -1: judged by the peers alone
};

// Per measurement, over the workers' figures (failed ones left out).
struct WorkerSpread {
  std::size_t measured = 0;
  double median = NO_FIGURE, min = NO_FIGURE, max = NO_FIGURE;
};
WorkerSpread spread_of(const MeasurementFigures& measurement);
