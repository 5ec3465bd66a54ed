// Which nodes are slow: a verdict per node from all six measurements.
//
// For each measurement, a node's figure is the median of its workers'
// figures (rank 0's own figure when no worker runs on its node), and its
// ratio is that figure over the median of the other nodes' figures. Only
// nodes with as many workers are compared while there are at least two of
// them, since ranks that share a node compete for it; else all other nodes.
//
// A node is low in a measurement when its ratio is below its line. The line
// follows how closely the other nodes it is compared with agree: it lies
// LOW_SPREADS robust standard deviations below 1, a deviation being
// MAD_TO_SIGMA times the median distance of their figures from their median,
// as a share of it; but never above
// LOW_RATIO_CEILING, so that a node a few percent behind a very tight cluster
// is never low, and never below LOW_RATIO_FLOOR, so that a node at half the
// others' speed is low however widely they scatter. A measurement whose
// median worker took less than MIN_JUDGED_SECONDS is left out: at that
// length the scheduler decides the figure, not the node.
//
//   failed   a figure of one of its ranks is nan (the measurement failed, or
//            the rank gave no answer and rank 0 gave it up);
//   slow     low in at least SLOW_MEASUREMENTS measurements;
//   suspect  low in one measurement;
//   ok       otherwise, and whenever fewer than three nodes can be compared.
//
// With the runs a site kept, a node is also held against its own normal
// (own_normal.h), and its verdict is the worse of the two; a slow or suspect
// node gets a probable cause (causes.h). The history also tells how far the
// nodes' ratios stray from run to run in each measurement; the peer line
// then lies no higher than OWN_LOW_SPREADS such spreads below 1, counted as
// a factor (e^-(OWN_LOW_SPREADS x spread)) so that it stays above zero: where
// chance decides a measurement's figures from run to run, as when it lasts
// a few scheduler periods, one run's ratio is no finding, but a node many
// times slower still is.
#pragma once

#include <vector>

#include "judging/kinds.h"
#include "judging/node_verdict.h"

// Judges a run's nodes against their peers: within the declared groups
// when given, else within the kinds seen in the run (groups.h).
Verdicts judge_nodes(const ResultFile& file, const std::vector<DeclaredGroup>* declared = nullptr);

// Lowers each node's peer line to the ceiling that Verdicts::run_to_run
// sets, and reads its lows and its verdict by its peers again.
void hold_peer_lines_to_history(Verdicts& verdicts);
