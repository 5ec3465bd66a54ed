// Each node against its own earlier runs.
//
// Nodes bought in stages differ among themselves by 10 to 20 %, yet each one
// keeps its level against the cluster (its figure over the median figure of
// the cluster's reference nodes: history.h, against_reference) within a few
// percent from run to run. So a node is also held against itself, in that level:
// within its group it would keep its ratio when the whole group falls with
// it (a rack whose cooling failed, a kind that got a bad firmware), and such
// a fall must be named, whatever other nodes fell with it:
//
//   its own normal  in a measurement, the median of its levels in its last
//                   HISTORY_WINDOW earlier runs of the same shape (as many
//                   workers on it), leaving out runs in which it was slow,
//                   failed, or a low run, or low in that measurement, and
//                   runs in which the measurement was too short to judge;
//   its own spread  the robust standard deviation of those levels
//                   (MAD_TO_SIGMA times their median distance from the
//                   normal), as a share of the normal; but no smaller than the
//                   median own spread of all nodes in that measurement nor
//                   OWN_SPREAD_FLOOR, so that a history that happened to be
//                   steady does not turn noise into a finding;
//   its own line    OWN_LOW_SPREADS own spreads below its own normal: in a
//                   judged measurement a level under it is low, when the
//                   node's figure also lies as far below its usual figure
//                   (the median of its figures in the same runs): a node
//                   that kept its figures while most others got faster is
//                   behind them, not fallen.
//
// With fewer than MIN_HISTORY_RUNS runs behind a normal the node has none
// there, and only the peer line judges it. A run in which a node is low in at
// least SLOW_MEASUREMENTS measurements is a low run for it. One run is never
// enough to call a node slow against itself, in any measurement: a backup or
// a stray job on one node for one run is common, and a change that lasts is
// what sets a slow node apart. So, among its last RECENT_RUNS runs of the
// same shape, this one included:
//
//   slow     low in this run, and either at least LOW_RUNS_TO_SLOW low runs,
//            or low in one same measurement in at least LOW_RUNS_TO_SLOW
//            runs (for a healthy node, as unlikely as two lows in one run:
//            a node 15 % slow crosses the line of its steadiest measurement
//            run after run, while noise decides which others cross);
//   suspect  low in this run, without that.
//
// A node that stays low for long enough that fewer than MIN_HISTORY_RUNS of
// its last HISTORY_WINDOW runs are left to make a normal is judged by its
// peers alone again, and from then on its new level becomes its normal.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "judging/measurement_flags.h"

inline constexpr int HISTORY_WINDOW = 20;
inline constexpr int MIN_HISTORY_RUNS = 5;
inline constexpr double OWN_LOW_SPREADS = 4.0;
inline constexpr double OWN_SPREAD_FLOOR = 0.01;
inline constexpr int RECENT_RUNS = 3;
inline constexpr int LOW_RUNS_TO_SLOW = 2;

// A node held against its own earlier runs, in one run. Levels, normals and
// lines are in the same units: shares of the median figure of the cluster's
// reference nodes.
struct OwnNormal {
  int runs[MEASUREMENT_COUNT] = {};       // earlier runs its normal is taken from
  double ratio[MEASUREMENT_COUNT];         // its level in this run
  double normal[MEASUREMENT_COUNT];        // NaN where it has none
  double spread[MEASUREMENT_COUNT];        // as a share of the normal, floor applied
  double line[MEASUREMENT_COUNT];          // normal x (1 - OWN_LOW_SPREADS x spread)
  double deviation[MEASUREMENT_COUNT];     // this run's level / normal
  double change[MEASUREMENT_COUNT];        // this run's figure / its usual figure; NaN without a normal
                                           // (the median of its figures in the runs that make it: cluster_change.h)
  bool low[MEASUREMENT_COUNT] = {};
  bool low_run = false;
  int recent_low_runs = 0;                 // among its last RECENT_RUNS runs, this one included
  int recent_lows[MEASUREMENT_COUNT] = {};  // runs low in each measurement, of the same runs
  // Its levels in its earlier runs of the same shape, oldest first (at most
  // HISTORY_WINDOW), NaN where not judged: the trend a page draws.
  std::vector<std::vector<double>> earlier;

  OwnNormal() {
    for (double* values : {ratio, normal, spread, line, deviation, change})
      for (int m = 0; m < MEASUREMENT_COUNT; ++m) values[m] = NAN;
  }
  bool known(int m) const { return runs[m] >= MIN_HISTORY_RUNS; }
  bool known_anywhere() const {
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (known(m)) return true;
    return false;
  }
  // The most of its last RECENT_RUNS runs that one kind of evidence in this
  // run stands in: low runs, or lows in one measurement it is low in now.
  int lasting() const {
    int most = low_run ? recent_low_runs : 0;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (low[m] && recent_lows[m] > most) most = recent_lows[m];
    return most;
  }
  std::vector<int> low_in() const { return measurements_where(low); }
};
