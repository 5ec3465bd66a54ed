// The whole cluster against its own kept runs.
//
// A kernel update, a firmware or a setting rolled out to every node slows
// every node alike, and each node's level against the others stays where it
// was: no node is below its own normal. So the cluster is held against its
// kept runs too. In each measurement its change is the median over the
// nodes of each one's figure over its own usual figure (the median of its
// figures in the runs that make its own normal, own_normal.h): the nodes
// that join the cluster or leave it do not move it, as they would move the
// median node. Its line lies OWN_LOW_SPREADS spreads below 1, the spread
// being how far the cluster's median figure strays from run to run (the
// robust spread of the median node's figure in its last HISTORY_WINDOW kept
// runs with as many workers on the typical node, where the measurement was
// judged), at least OWN_SPREAD_FLOOR. A change under the line is named, as
// common to every node, when at least COMMON_SHARE of the nodes lie under
// it too (half the nodes fallen move the median node as far); it drains
// nothing, since no node is worse than the others.
#pragma once

#include <vector>

#include "judging/measurement_flags.h"
#include "judging/own_normal.h"
#include "reading/run_summary.h"

inline constexpr double COMMON_SHARE = 0.75;

struct ClusterChange {
  int nodes[MEASUREMENT_COUNT] = {};   // nodes with a usual figure
  int runs[MEASUREMENT_COUNT] = {};    // kept runs its spread is taken from
  double change[MEASUREMENT_COUNT];    // the median node's figure over its usual one; NaN without
  double spread[MEASUREMENT_COUNT];    // of the kept runs' median figures, a share of theirs
  double line[MEASUREMENT_COUNT];      // 1 - OWN_LOW_SPREADS x spread
  bool low[MEASUREMENT_COUNT] = {};    // judged in this run, and below the line

  ClusterChange();
  bool known(int m) const;
  bool known_anywhere() const;
  std::vector<int> low_in() const { return measurements_where(low); }
  bool low_everywhere(const bool judged[MEASUREMENT_COUNT]) const;  // in every judged measurement it is known in
  double median_low() const;  // the median change where it is low; NaN when nowhere
};

// `run`, its nodes held against their own normals (`normals`, in its order,
// each with its change), against `earlier`, the kept runs before it, oldest
// first.
ClusterChange cluster_change(const std::vector<OwnNormal>& normals, const RunSummary& run,
                             const std::vector<const RunSummary*>& earlier);

// The nodes that kept their usual figures.
//
// A node's level against the cluster is its figure over the median node's;
// when half the nodes fall together, the median node falls with them and
// the fall is hidden; when half get faster, the others look fallen. So, in
// each measurement, the nodes whose figure over their usual one (their
// OwnNormal::change) lies within OWN_LOW_SPREADS own spreads of 1 kept their
// usual figures. When some did not, and those that did are at least
// MIN_COMPARED_NODES and a quarter of the nodes with a normal there, each
// node with a normal is taken to lie at its normal times its change over
// the median change of those that kept theirs, whatever kind they are of.
// When fewer kept theirs, the cluster changed as a whole, and the levels
// are the run's own.
RunSummary against_unchanged(const RunSummary& run, const std::vector<OwnNormal>& normals);
