#include "judging/causes.h"

#include <cmath>

#include "judging/node_verdict.h"

const char* cause_key(Cause cause) {
  switch (cause) {
    case Cause::none: return "";
    case Cause::cpu: return "cpu";
    case Cause::metadata: return "metadata";
    case Cause::sync: return "sync";
    case Cause::bandwidth: return "bandwidth";
    case Cause::unclear: return "unclear";
  }
  return "";
}

const char* cause_name(Cause cause) {
  switch (cause) {
    case Cause::none: return "";
    case Cause::cpu: return "CPU or system-call cost";
    case Cause::metadata: return "the metadata path";
    case Cause::sync: return "sync or flush behaviour";
    case Cause::bandwidth: return "device bandwidth";
    case Cause::unclear: return "unclear";
  }
  return "";
}

const char* cause_against(const ProbableCause& cause) {
  bool own = false, peers = false;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    if (std::isnan(cause.deviations[m])) continue;
    (cause.of_own_normal[m] ? own : peers) = true;
  }
  return own && peers ? "both" : own ? "own_normal" : "peers";
}

Cause cause_of(const bool judged[MEASUREMENT_COUNT], const bool low[MEASUREMENT_COUNT],
               const bool near[MEASUREMENT_COUNT]) {
  // Judged and low; judged and near normal; near normal or not judged (no
  // evidence against).
  auto is_low = [&](int m) { return judged[m] && low[m]; };
  auto is_near = [&](int m) { return judged[m] && near[m]; };
  auto not_against = [&](int m) { return !judged[m] || near[m]; };
  // A pair of measurements through the same path is low when one is low
  // and neither is near normal.
  auto pair_low = [&](int a, int b) { return (is_low(a) || is_low(b)) && !is_near(a) && !is_near(b); };
  const bool file_handling_low = pair_low(STREAMS, DESCRIPTORS);
  // File handling too short to judge in the run is no evidence either way:
  // writes low with reads near normal still point to the write path alone.
  const bool file_handling_unjudged = !judged[STREAMS] && !judged[DESCRIPTORS];

  if (pair_low(BYTEWISE_WRITE, BYTEWISE_READ) && judged[BYTEWISE_WRITE] && judged[BYTEWISE_READ]) return Cause::cpu;
  if (file_handling_low && is_near(BYTEWISE_WRITE) && is_near(BYTEWISE_READ) && not_against(BLOCK_READ) &&
      not_against(BLOCK_WRITE))
    return Cause::metadata;
  if ((file_handling_low || file_handling_unjudged) && (is_low(BYTEWISE_WRITE) || is_low(BLOCK_WRITE)) &&
      is_near(BYTEWISE_READ) && not_against(BLOCK_READ))
    return Cause::sync;
  if ((is_low(BLOCK_READ) || is_low(BLOCK_WRITE)) && is_near(STREAMS) && is_near(DESCRIPTORS) &&
      is_near(BYTEWISE_WRITE) && is_near(BYTEWISE_READ))
    return Cause::bandwidth;
  return Cause::unclear;
}

ProbableCause probable_cause(const NodeVerdict& node, const bool judged[MEASUREMENT_COUNT]) {
  ProbableCause found;
  // A node between kinds is no finding, and has no cause.
  if ((node.verdict != Verdict::slow && node.verdict != Verdict::suspect) || node.between_kinds) return found;
  // Each measurement against the node's own normal where it has one, else
  // against its peers' median; its distance in units of the spread behind
  // that reference: its own spread, or the peer line's standard deviation,
  // (1 - line) / LOW_SPREADS. It is low when either line finds it low, as
  // the verdict reads it.
  bool low[MEASUREMENT_COUNT] = {}, near[MEASUREMENT_COUNT] = {}, compared[MEASUREMENT_COUNT] = {};
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    found.deviations[m] = NO_FIGURE;
    if (!judged[m] || std::isnan(node.ratios[m])) continue;
    const bool own = node.own.known(m);
    const double deviation = own ? node.own.deviation[m] : node.ratios[m];
    const double spread = own ? node.own.spread[m] : (1.0 - node.lines[m]) / LOW_SPREADS;
    if (std::isnan(deviation) || !(spread > 0)) continue;
    found.deviations[m] = deviation;
    found.of_own_normal[m] = own;
    compared[m] = true;
    low[m] = node.low[m] || (own && node.own.low[m]);
    near[m] = !low[m] && (1.0 - deviation) / spread <= NEAR_SPREADS;
  }
  found.cause = cause_of(compared, low, near);
  return found;
}
