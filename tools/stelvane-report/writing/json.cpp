#include <cmath>

#include <nlohmann/json.hpp>

#include "judging/compare.h"
#include "judging/verdict.h"
#include "writing/drain.h"
#include "writing/outputs.h"
#include "writing/wording.h"

namespace {

using nlohmann::json;

// NaN figures (failed measurements) become null.
json number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json keys_of(const std::vector<int>& indices) {
  json keys = json::array();
  for (int m : indices) keys.push_back(MEASUREMENTS[m].key);
  return keys;
}

json stamp_json(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

// Per measurement key: one of a node's six values.
json per_measurement(const double (&values)[MEASUREMENT_COUNT]) {
  json by_key = json::object();
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) by_key[MEASUREMENTS[m].key] = number(values[m]);
  return by_key;
}

// Per measurement, of its last RECENT_RUNS runs those it was low in.
json lows_of_last(const OwnNormal& own) {
  json by_key = json::object();
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) by_key[MEASUREMENTS[m].key] = own.recent_lows[m];
  return by_key;
}

json own_normal_json(const OwnNormal& own) {
  if (!own.known_anywhere()) return nullptr;
  json runs = json::object();
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) runs[MEASUREMENTS[m].key] = own.runs[m];
  return {{"runs", runs},
          {"normal", per_measurement(own.normal)},
          {"spread", per_measurement(own.spread)},
          {"line", per_measurement(own.line)},
          {"deviation", per_measurement(own.deviation)},
          {"ratio", per_measurement(own.ratio)},
          {"low_in", keys_of(own.low_in())},
          {"low_run", own.low_run},
          {"low_runs_of_last", {{"runs", RECENT_RUNS}, {"low", own.recent_low_runs}}},
          {"lows_of_last", lows_of_last(own)}};
}

json cause_json(const ProbableCause& cause) {
  if (cause.cause == Cause::none) return nullptr;
  return {{"cause", cause_key(cause.cause)}, {"text", cause_text(cause)},
          {"against", cause_against(cause)},
          {"deviations", per_measurement(cause.deviations)}};
}

json node_json(const NodeVerdict& node) {
  return {{"node", node.node},         {"ranks", node.ranks},
          {"workers", node.workers},   {"verdict", verdict_name(node.verdict)},
          {"by_peers", verdict_name(node.by_peers)},
          {"by_own_normal", node.own.known_anywhere() ? json(verdict_name(node.by_own_normal)) : json(nullptr)},
          {"judged_by", node.own.known_anywhere() ? "peers and own normal" : "peers"},
          {"own_normal", own_normal_json(node.own)}, {"cause", cause_json(node.cause)},
          {"fell_together", node.fall >= 0},
          {"slow_in", keys_of(node.low_in())}, {"failed_in", keys_of(node.failed_in())},
          {"no_answer_in", node.no_answer_in < 0 ? json(nullptr) : json(MEASUREMENTS[node.no_answer_in].key)},
          {"ratios", per_measurement(node.ratios)}, {"lines", per_measurement(node.lines)}};
}

// The workers the benchmark gave up, as their lines say.
json no_answer_json(const ResultFile& file) {
  json lost = json::array();
  for (const LostRank& rank : file.lost)
    lost.push_back({{"rank", rank.rank}, {"node", rank.node.empty() ? json(nullptr) : json(rank.node)},
                    {"measurement", MEASUREMENTS[rank.measurement].key}, {"why", rank.why}});
  return lost;
}

json measurement_json(int index, const MeasurementFigures& m, const Verdicts& verdicts) {
  const WorkerSpread spread = spread_of(m);
  json workers = json::array(), slow_ranks = json::array(), failed_ranks = json::array();
  for (const WorkerFigures& worker : m.workers) {
    const bool slow = verdicts.slow_in(worker, index), failed = std::isnan(worker.figure);
    workers.push_back({{"rank", worker.rank}, {"node", worker.node}, {"seconds", number(worker.seconds)},
                       {"figure", number(worker.figure)}, {"slow", slow}, {"failed", failed}});
    if (slow) slow_ranks.push_back(worker.rank);
    if (failed) failed_ranks.push_back(worker.rank);
  }
  json entry = {{"key", MEASUREMENTS[index].key},
                {"name", MEASUREMENTS[index].name},
                {"title", MEASUREMENTS[index].title},
                {"unit", MEASUREMENTS[index].unit},
                {"judged", verdicts.judged[index]},
                {"median_seconds", number(verdicts.median_seconds[index])},
                {"run_to_run_spread", number(verdicts.run_to_run[index])},
                {"peer_line_ceiling", number(verdicts.peer_ceiling(index))},
                {"rank0", {{"seconds", number(m.rank0_seconds)}, {"figure", number(m.rank0_figure)}}},
                {"cluster", nullptr},
                {"workers", workers},
                {"slow_ranks", slow_ranks},
                {"failed_ranks", failed_ranks}};
  if (!m.workers.empty())
    entry["cluster"] = {{"total", number(m.total)},   {"improvement", number(m.improvement)},
                        {"average", number(m.average)}, {"median", number(spread.median)},
                        {"min", number(spread.min)},   {"max", number(spread.max)}};
  return entry;
}

// Each fall that several nodes share.
json falls_json(const Verdicts& verdicts) {
  json falls = json::array();
  for (const SharedFall& fall : verdicts.falls)
    falls.push_back({{"nodes", fall.nodes}, {"host_list", host_list(fall.nodes)}, {"count", fall.nodes.size()},
                     {"fell_to", number(fall.fell_to)}, {"deviation", per_measurement(fall.deviation)},
                     {"in", keys_of(measurements_where(fall.in))}, {"everywhere", fall.everywhere},
                     {"cause", fall.cause == Cause::none ? json(nullptr) : json(cause_key(fall.cause))},
                     {"group", fall.group.empty() ? json(nullptr) : json(fall.group)},
                     {"text", shared_fall_text(fall)}});
  return falls;
}

// The cluster against its kept runs; null without them.
json cluster_change_json(const Verdicts& verdicts) {
  const ClusterChange& cluster = verdicts.cluster;
  if (!cluster.known_anywhere()) return nullptr;
  json runs = json::object(), nodes = json::object();
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    runs[MEASUREMENTS[m].key] = cluster.runs[m];
    nodes[MEASUREMENTS[m].key] = cluster.nodes[m];
  }
  const std::string text = cluster_fall_text(verdicts);
  return {{"change", per_measurement(cluster.change)}, {"spread", per_measurement(cluster.spread)},
          {"line", per_measurement(cluster.line)}, {"low_in", keys_of(cluster.low_in())},
          {"runs", runs}, {"nodes", nodes}, {"text", text.empty() ? json(nullptr) : json(text)}};
}

// The groups a run's nodes were judged in, each against the largest.
json groups_json(const Verdicts& verdicts) {
  json groups = json::array();
  for (const GroupReport& group : verdicts.groups)
    groups.push_back({{"name", group.group.name}, {"source", group_source_key(group.group.source)},
                      {"nodes", group.nodes.size()}, {"host_list", host_list(group.nodes)},
                      {"largest", group.largest}, {"apart", group.apart}, {"too_small", group.too_small},
                      {"median", per_measurement(group.median)}, {"to_largest", per_measurement(group.to_largest)}});
  return groups;
}

json file_json(const JudgedRun& run) {
  const ResultFile& file = *run.file;
  const Verdicts& verdicts = run.verdicts;
  json nodes = json::array(), measurements = json::array();
  for (const NodeVerdict& node : verdicts.nodes) {
    nodes.push_back(node_json(node));
    if (verdicts.groups.empty()) continue;
    // Only a run judged in groups says so: a run of one kind reads as before.
    nodes.back()["group"] = node.group < 0 ? json(nullptr) : json(verdicts.groups[node.group].group.name);
    nodes.back()["between_kinds"] = node.between_kinds;
    nodes.back()["fleet_ratios"] = per_measurement(node.fleet_ratios);
  }
  for (int i = 0; i < MEASUREMENT_COUNT; ++i) measurements.push_back(measurement_json(i, file.measurements[i], verdicts));
  json document = {{"file", file.source},
          {"time_stamp", stamp_json(file.stamp.time_stamp)},
          {"time_zone", stamp_json(file.stamp.time_zone)},
          {"rank0_node", stamp_json(file.stamp.rank0_node)},
          {"ranks", file.ranks},
          {"complete", file.complete},
          {"truncation", file.complete ? json(nullptr) : json(file.truncation)},
          {"verdict_rule", {{"low_ratio_floor", LOW_RATIO_FLOOR}, {"low_ratio_ceiling", LOW_RATIO_CEILING},
                            {"low_spreads", LOW_SPREADS}, {"mad_to_sigma", MAD_TO_SIGMA},
                            {"slow_measurements", SLOW_MEASUREMENTS},
                            {"min_judged_seconds", MIN_JUDGED_SECONDS}, {"min_compared_nodes", MIN_COMPARED_NODES},
                            {"own_normal", {{"history_window", HISTORY_WINDOW}, {"min_history_runs", MIN_HISTORY_RUNS},
                                            {"own_low_spreads", OWN_LOW_SPREADS}, {"own_spread_floor", OWN_SPREAD_FLOOR},
                                            {"recent_runs", RECENT_RUNS}, {"low_runs_to_slow", LOW_RUNS_TO_SLOW}}}}},
          {"history_runs", run.history_runs < 0 ? json(nullptr) : json(run.history_runs)},
          {"slow_nodes", verdicts.named(Verdict::slow)},
          {"drain_host_list", drain_host_list(verdicts)},
          {"suspect_nodes", verdicts.named(Verdict::suspect)},
          {"failed_nodes", verdicts.named(Verdict::failed)},
          {"no_answer", no_answer_json(file)},
          {"cluster_change", cluster_change_json(verdicts)},
          {"shared_falls", falls_json(verdicts)},
          {"nodes", nodes},
          {"measurements", measurements}};
  if (!verdicts.groups.empty()) document["groups"] = groups_json(verdicts);
  return document;
}

}  // namespace

void write_json(std::ostream& out, const std::vector<JudgedRun>& runs) {
  json document;
  if (runs.size() == 1) {
    document = file_json(runs.front());
  } else {
    document = json::array();
    for (const JudgedRun& run : runs) document.push_back(file_json(run));
  }
  // Node names are bytes from the file: anything not UTF-8 is replaced, not fatal.
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

namespace {

json run_stamp_json(const ResultFile& file) {
  return {{"file", file.source}, {"time_stamp", stamp_json(file.stamp.time_stamp)},
          {"time_zone", stamp_json(file.stamp.time_zone)}, {"rank0_node", stamp_json(file.stamp.rank0_node)},
          {"ranks", file.ranks}, {"complete", file.complete}};
}

}  // namespace

void write_comparison_json(std::ostream& out, const std::vector<const ResultFile*>& runs, const RunComparison& comparison) {
  json changes = json::array();
  for (const NodeChange& node : comparison.nodes) {
    json change = json::object(), relative = json::object();
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      change[MEASUREMENTS[m].key] = number(node.change[m]);
      relative[MEASUREMENTS[m].key] = number(node.relative[m]);
    }
    std::vector<int> slower_in;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (node.slower_in[m]) slower_in.push_back(m);
    changes.push_back({{"node", node.node}, {"comparable", node.comparable}, {"slower", node.slower},
                       {"slower_in", keys_of(slower_in)}, {"change", change}, {"relative", relative}});
  }
  json shift = json::object(), judged = json::object();
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    shift[MEASUREMENTS[m].key] = number(comparison.shift[m]);
    judged[MEASUREMENTS[m].key] = comparison.judged[m];
  }
  json run_list = json::array();
  for (const ResultFile* run : runs) {
    json entry = run_stamp_json(*run);
    entry["slow_nodes"] = judge_nodes(*run).named(Verdict::slow);
    run_list.push_back(entry);
  }
  // Each node's series over the runs, one value per run (null where it did not run).
  json history = json::array();
  for (const NodeHistory& node : node_histories(runs)) {
    json verdicts = json::array(), figures = json::object();
    for (const NodeHistory::Point& point : node.points)
      verdicts.push_back(point.present ? json(verdict_name(point.verdict)) : json(nullptr));
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      json series = json::array();
      for (const NodeHistory::Point& point : node.points) series.push_back(number(point.figures[m]));
      figures[MEASUREMENTS[m].key] = series;
    }
    history.push_back({{"node", node.node}, {"verdicts", verdicts}, {"figures", figures}});
  }
  json document = {
      {"comparison",
       {{"baseline", run_stamp_json(*comparison.baseline)}, {"run", run_stamp_json(*comparison.run)},
        {"rule", {{"slower_ratio", SLOWER_RATIO}, {"slower_measurements", SLOWER_MEASUREMENTS}}},
        {"shift", shift}, {"judged", judged}, {"slower_nodes", comparison.slower()},
        {"only_in_baseline", comparison.only_in_baseline}, {"only_in_run", comparison.only_in_run}, {"nodes", changes}}},
      {"runs", run_list},
      {"history", history}};
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}
