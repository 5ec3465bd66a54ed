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
    append_listed(text, keyed_ratio(m, node.ratios[m]) + " (own " + ratio_text(node.own.normal[m]) + ", line " + ratio_text(node.own.line[m]) + ")");
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
  if (node.by_own_normal != Verdict::ok)
    append_listed(text, std::string("slower than its own normal: ") + below_own_normal(node) + " (in " + std::to_string(node.own.lasting()) + " of its last " + std::to_string(RECENT_RUNS) + " runs)", "; ");
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
