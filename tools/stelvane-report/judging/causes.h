// Why a node is probably slow, from the pattern of its judged measurements.
//
// Each judged measurement of a slow or suspect node is read as a deviation:
// its ratio over its own normal where the node has one in that measurement,
// else its ratio to its peers. It is *low* when either line finds it low,
// as the verdict reads it; else, in units of the spread behind its reference
// (its own spread, or the peer line's standard deviation), *near normal* within
// NEAR_SPREADS of it. What each part of the system costs in each measurement
// gives the patterns, tried in this order (a pair of measurements is low
// when one of them is low and neither is near normal):
//
//   CPU or system-call cost   byte-wise write and read low: one byte
//                             from the page cache costs a system call and
//                             nothing else, so only the CPU or the path of
//                             a call (a FUSE layer, say) slows the read;
//   the metadata path         file handling (streams and descriptors:
//                             creates, opens, closes, removes) low, byte-wise write and read near normal,
//                             and the block measurements too where judged;
//   sync or flush behaviour   file handling low (or too short to judge in
//                             the run) and the writes low (byte-wise or
//                             block), the reads near normal;
//   device bandwidth          a block measurement low, every other judged
//                             measurement near normal;
//   unclear                   any other pattern.
//
// A cause is a hypothesis for an administrator to check, never a finding,
// and no ok or failed node has one.
#pragma once

#include "measurements.h"

inline constexpr double NEAR_SPREADS = 2.0;

enum class Cause { none, cpu, metadata, sync, bandwidth, unclear };

struct ProbableCause {
  Cause cause = Cause::none;
  double deviations[MEASUREMENT_COUNT] = {};     // NaN where not judged
  bool of_own_normal[MEASUREMENT_COUNT] = {};    // a share of its own normal, else of its peers' median
};

// What the deviations are shares of: "own_normal", "peers", or "both".
const char* cause_against(const ProbableCause& cause);

const char* cause_key(Cause cause);   // "cpu", "metadata", "sync", "bandwidth", "unclear"; "" for none
const char* cause_name(Cause cause);  // "CPU or system-call cost", "the metadata path", ...

struct NodeVerdict;
// The probable cause of a slow or suspect node in a run whose judged
// measurements are `judged`.
ProbableCause probable_cause(const NodeVerdict& node, const bool judged[MEASUREMENT_COUNT]);

// The cause of a pattern: `low` and `near` per measurement, judged ones only.
Cause cause_of(const bool judged[MEASUREMENT_COUNT], const bool low[MEASUREMENT_COUNT],
               const bool near[MEASUREMENT_COUNT]);
