#include "writing/wording.h"

#include <cmath>
#include <cstdio>

#include "judging/compare.h"
#include "judging/verdict.h"
#include "writing/drain.h"

void append_listed(std::string& list, const std::string& item, const char* separator) {
  if (!list.empty()) list += separator;
  list += item;
}

std::string figure_text(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string keyed_ratio(int m, double ratio) { return std::string(MEASUREMENTS[m].key) + " " + ratio_text(ratio); }

std::string relative_changes(const NodeChange& node) {
  std::string text;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (node.slower_in[m]) append_listed(text, keyed_ratio(m, node.relative[m]));
  return text;
}

std::string ratio_text(double ratio) {
  if (std::isnan(ratio)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", ratio);
  return text;
}

std::string lowered_peer_lines(const Verdicts& verdicts) {
  std::string lowered;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (verdicts.judged[m] && verdicts.peer_ceiling(m) < LOW_RATIO_CEILING)
      append_listed(lowered, keyed_ratio(m, verdicts.peer_ceiling(m)));
  return lowered;
}

std::string run_label(const ResultFile& file) {
  return file.source + (file.stamp.time_stamp.empty() ? "" : " (" + file.stamp.time_stamp + " " + file.stamp.time_zone + ")");
}

std::string ranks_text(const std::vector<int>& ranks) {
  std::string text;
  for (int rank : ranks) append_listed(text, std::to_string(rank));
  return text;
}

std::string measurements_with_ratios(const NodeVerdict& node, const std::vector<int>& indices) {
  std::string text;
  for (int m : indices)
    append_listed(text, keyed_ratio(m, node.ratios[m]) + " (line " + ratio_text(node.lines[m]) + ")");
  return text;
}

// "streams 0.62, descriptors 0.58": a node's ratios in these measurements.
std::string ratios_in(const NodeVerdict& node, const std::vector<int>& indices) {
  std::string text;
  for (int m : indices) append_listed(text, keyed_ratio(m, node.ratios[m]));
  return text;
}

std::string low_measurements(const NodeVerdict& node) { return measurements_with_ratios(node, node.low_in()); }

std::string below_own_normal(const NodeVerdict& node) {
  std::string text;
  for (int m : node.own.low_in())
    append_listed(text, keyed_ratio(m, node.own.ratio[m]) + " (own " + ratio_text(node.own.normal[m]) + ", line " + ratio_text(node.own.line[m]) + ")");
  return text;
}

std::string verdict_detail(const NodeVerdict& node) {
  if (node.verdict == Verdict::failed) {
    // A rank that gave no answer has NaN in every later measurement: those
    // are said once, as where it stopped answering.
    std::string keys;
    for (int m : node.failed_in())
      if (node.no_answer_in < 0 || m < node.no_answer_in)
        append_listed(keys, MEASUREMENTS[m].key);
    const std::string failed = keys.empty() ? "" : "failed in " + keys;
    if (node.no_answer_in < 0) return failed;
    return failed + (failed.empty() ? "" : "; ") + "no answer in " + MEASUREMENTS[node.no_answer_in].name;
  }
  std::string text;
  const std::string peers = node.group < 0 ? "the other nodes'" : "its group's";
  if (node.between_kinds)
    text = "between two kinds, at " + ratios_in(node, measurements_where(node.between)) +
           " of its own kind's median: a slow node of one kind or a healthy one of the other, which one run cannot tell (declare the "
           "groups, --groups, or keep runs, --history)";
  else if (node.by_peers != Verdict::ok)
    text = "below its line, as a share of " + peers + " median, in " + low_measurements(node);
  if (node.by_own_normal == Verdict::ok) return text;
  const std::string lasting = node.fall >= 0 ? "fell together with others in this run"
                                             : "in " + std::to_string(node.own.lasting()) + " of its last " +
                                                   std::to_string(RECENT_RUNS) + " runs";
  append_listed(text, "slower than its own normal: " + below_own_normal(node) + " (" + lasting + ")", "; ");
  return text;
}

namespace {

// "in streams, descriptors (as low as 0.56 of it, line 0.63)": where a node is
// low, said once, with the lowest of its values there and that one's line.
std::string lowest_where(const std::vector<int>& low_in, const double* values, const double* lines,
                         const char* of_what) {
  std::string keys;
  int lowest = low_in.front();
  for (int m : low_in) {
    append_listed(keys, MEASUREMENTS[m].key);
    if (values[m] < values[lowest]) lowest = m;
  }
  return "in " + keys + " (as low as " + ratio_text(values[lowest]) + " of " + of_what + ", in " +
         MEASUREMENTS[lowest].key + ", line " + ratio_text(lines[lowest]) + ")";
}

}  // namespace

std::string verdict_finding(const NodeVerdict& node) {
  if (node.verdict == Verdict::failed || node.between_kinds) return verdict_detail(node);
  std::string text;
  const char* peers = node.group < 0 ? "the other nodes' median" : "its group's median";
  if (node.by_peers != Verdict::ok) text = "below its line " + lowest_where(node.low_in(), node.ratios, node.lines, peers);
  if (node.by_own_normal == Verdict::ok) return text;
  double shares[MEASUREMENT_COUNT], lines[MEASUREMENT_COUNT];
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    shares[m] = node.own.deviation[m];
    lines[m] = node.own.line[m] / node.own.normal[m];
  }
  append_listed(text, "below its own normal " + lowest_where(node.own.low_in(), shares, lines, "it"), "; ");
  return text + (node.fall >= 0 ? ", as others fell with it" : ", in " + std::to_string(node.own.lasting()) +
                                                                   " of its last " + std::to_string(RECENT_RUNS) + " runs");
}

namespace {

// "streams, descriptors" of these measurements, or "every measurement".
std::string where_text(const std::vector<int>& indices, bool everywhere) {
  if (everywhere) return "every measurement";
  std::string keys;
  for (int m : indices) append_listed(keys, MEASUREMENTS[m].key);
  return keys;
}

// " (the whole of kind 2)", " (4 of kind 2's 19 nodes)"; empty when its
// nodes are in no group or in several.
std::string fall_group_text(const SharedFall& fall) {
  if (fall.group.empty()) return "";
  if (fall.nodes.size() == fall.group_nodes) return " (the whole of " + printable(fall.group) + ")";
  return " (" + std::to_string(fall.nodes.size()) + " of " + printable(fall.group) + "'s " +
         std::to_string(fall.group_nodes) + " nodes)";
}

}  // namespace

std::string shared_fall_text(const SharedFall& fall) {
  const std::string cause = cause_summary(fall.cause);
  return std::to_string(fall.nodes.size()) + " nodes fell together, " + printable(host_list(fall.nodes)) +
         fall_group_text(fall) + ", " +
         ratio_text(fall.fell_to) + " of their own normal in " +
         where_text(measurements_where(fall.in), fall.everywhere) + (cause.empty() ? "" : "; " + cause);
}

std::string cluster_changes(const Verdicts& verdicts) {
  std::string text;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (verdicts.judged[m] && verdicts.cluster.known(m))
      append_listed(text, keyed_ratio(m, verdicts.cluster.change[m]) + " (line " + ratio_text(verdicts.cluster.line[m]) + ")");
  return text;
}

std::string cluster_fall_text(const Verdicts& verdicts) {
  const ClusterChange& cluster = verdicts.cluster;
  if (cluster.low_in().empty()) return "";
  return "the whole cluster runs at " + ratio_text(cluster.median_low()) + " of its kept runs in " +
         where_text(cluster.low_in(), cluster.low_everywhere(verdicts.judged)) +
         ": a change common to every node \u2014 a kernel, firmware or setting";
}

std::string groups_source_text(const Verdicts& verdicts) {
  const GroupSource first = verdicts.groups.front().group.source;
  std::string text = group_source_name(first);
  for (const GroupReport& group : verdicts.groups)
    if (group.group.source != first) return text + ", new nodes' " + group_source_name(group.group.source);
  return text;
}

std::string largest_group_name(const Verdicts& verdicts) {
  for (const GroupReport& group : verdicts.groups)
    if (group.largest) return group.group.name;
  return "";
}

std::string group_text(const Verdicts& verdicts, const GroupReport& group) {
  std::string text = printable(group.group.name) + ": " + std::to_string(group.nodes.size()) +
                     (group.nodes.size() == 1 ? " node" : " nodes");
  if (group.too_small) return text + ", too few to judge (fewer than " + std::to_string(MIN_COMPARED_NODES) + ")";
  if (group.largest) return text + ", the largest";
  std::string ratios;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (verdicts.judged[m]) append_listed(ratios, keyed_ratio(m, group.to_largest[m]));
  return text + ", " + (ratios.empty() ? "not judged" : ratios) + " of " + printable(largest_group_name(verdicts)) +
         "'s median";
}

std::string group_apart_text(const GroupReport& group) {
  return printable(group.group.name) + " (" + printable(host_list(group.nodes)) +
         "): if those nodes are a kind of their own, declare it (--groups); else look at what they share (a rack, a "
         "switch, a firmware)";
}

std::string verdict_reason(const NodeVerdict& node) {
  const std::string detail = verdict_detail(node);
  const std::string cause = cause_text(node.cause);
  return cause.empty() ? detail : detail + "; " + cause;
}

std::string cause_summary(Cause cause) {
  if (cause == Cause::none) return "";
  if (cause == Cause::unclear) return "cause unclear";
  return std::string("probably ") + cause_name(cause);
}

std::string cause_text(const ProbableCause& cause) {
  if (cause.cause == Cause::none) return "";
  // The deviations grouped by what they are shares of, own normal first.
  std::string text = cause_summary(cause.cause) + ":";
  const char* separator = " ";
  for (bool own : {true, false}) {
    const double* d = cause.deviations;
    auto shown = [&](int m) { return !std::isnan(d[m]) && cause.of_own_normal[m] == own; };
    std::string ratios;
    auto add = [&](const std::string& item) { append_listed(ratios, item); };
    for (int m : {STREAMS, DESCRIPTORS})
      if (shown(m)) add(keyed_ratio(m, d[m]));
    if (shown(BYTEWISE_WRITE) || shown(BYTEWISE_READ))
      add("byte-wise " + (shown(BYTEWISE_WRITE) ? ratio_text(d[BYTEWISE_WRITE]) : std::string("-")) + "/" +
          (shown(BYTEWISE_READ) ? ratio_text(d[BYTEWISE_READ]) : std::string("-")));
    for (int m : {BLOCK_READ, BLOCK_WRITE})
      if (shown(m)) add(keyed_ratio(m, d[m]));
    if (ratios.empty()) continue;
    text += separator + ratios + (own ? " of its own normal" : " of its peers' median");
    separator = "; ";
  }
  return text;
}
