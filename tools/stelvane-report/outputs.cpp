#include "outputs.h"

#include <cmath>
#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "causes.h"
#include "compare.h"
#include "drain.h"
#include "units.h"
#include "verdict.h"

std::string figure_text(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
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
      lowered += (lowered.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key) + " " +
                 ratio_text(verdicts.peer_ceiling(m));
  return lowered;
}

std::string run_label(const ResultFile& file) {
  return file.source + (file.stamp.time_stamp.empty() ? "" : " (" + file.stamp.time_stamp + " " + file.stamp.time_zone + ")");
}

std::string ranks_text(const std::vector<int>& ranks) {
  std::string text;
  for (int rank : ranks) text += (text.empty() ? "" : ", ") + std::to_string(rank);
  return text;
}

std::string measurements_with_ratios(const NodeVerdict& node, const std::vector<int>& indices) {
  std::string text;
  for (int m : indices)
    text += (text.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key) + " " + ratio_text(node.ratios[m]) +
            " (line " + ratio_text(node.lines[m]) + ")";
  return text;
}

std::string low_measurements(const NodeVerdict& node) { return measurements_with_ratios(node, node.low_in()); }

std::string below_own_normal(const NodeVerdict& node) {
  std::string text;
  for (int m : node.own.low_in())
    text += (text.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key) + " " + ratio_text(node.ratios[m]) +
            " (own " + ratio_text(node.own.normal[m]) + ", line " + ratio_text(node.own.line[m]) + ")";
  return text;
}

std::string verdict_detail(const NodeVerdict& node) {
  if (node.verdict == Verdict::failed) {
    // A rank that gave no answer has NaN in every later measurement: those
    // are said once, as where it stopped answering.
    std::string keys;
    for (int m : node.failed_in())
      if (node.no_answer_in < 0 || m < node.no_answer_in)
        keys += (keys.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key);
    const std::string failed = keys.empty() ? "" : "failed in " + keys;
    if (node.no_answer_in < 0) return failed;
    return failed + (failed.empty() ? "" : "; ") + "no answer in " + MEASUREMENTS[node.no_answer_in].name;
  }
  std::string text;
  if (node.by_peers != Verdict::ok)
    text = "below its line, as a share of the other nodes' median, in " + low_measurements(node);
  if (node.by_own_normal != Verdict::ok)
    text += (text.empty() ? "" : "; ") + std::string("slower than its own normal: ") + below_own_normal(node) +
            " (in " + std::to_string(node.own.lasting()) + " of its last " + std::to_string(RECENT_RUNS) + " runs)";
  return text;
}

std::string verdict_reason(const NodeVerdict& node) {
  const std::string detail = verdict_detail(node);
  const std::string cause = cause_text(node.cause);
  return cause.empty() ? detail : detail + "; " + cause;
}

namespace {

std::string run_line(const ResultFile& file, std::size_t node_count) {
  std::string line = file.source + ": " + std::to_string(file.ranks) + (file.ranks == 1 ? " rank" : " ranks") +
                     " on " + std::to_string(node_count) + (node_count == 1 ? " node" : " nodes");
  if (!file.stamp.time_stamp.empty())
    line += ", started " + printable(file.stamp.time_stamp + " " + file.stamp.time_zone) + ", rank 0 on " +
            printable(file.stamp.rank0_node);
  return line + (file.complete ? "" : ", TRUNCATED: " + file.truncation);
}

// The slow and failed nodes with plain names as one Slurm host list.
std::string drain_host_list(const Verdicts& verdicts) {
  std::vector<std::string> left_out, names;
  for (const NodeVerdict* node : nodes_to_drain(verdicts, left_out)) names.push_back(node->node);
  return host_list(names);
}

void write_lowered_peer_lines(std::ostream& out, const Verdicts& verdicts) {
  const std::string lowered = lowered_peer_lines(verdicts);
  if (!lowered.empty()) out << "  Peer line at most, as far as the nodes stray from run to run: " << lowered << "\n";
}

void write_verdict_text(std::ostream& out, const Verdicts& verdicts, int history_runs) {
  std::size_t counts[4] = {};
  for (const NodeVerdict& node : verdicts.nodes) ++counts[static_cast<int>(node.verdict)];
  out << "  Nodes: " << counts[static_cast<int>(Verdict::slow)] << " slow, "
      << counts[static_cast<int>(Verdict::suspect)] << " suspect, " << counts[static_cast<int>(Verdict::failed)]
      << " failed, " << counts[static_cast<int>(Verdict::ok)] << " ok\n";
  for (const NodeVerdict& node : verdicts.nodes) {
    if (node.verdict == Verdict::ok) continue;
    char label[16];
    std::snprintf(label, sizeof label, "%-8s", verdict_name(node.verdict));
    out << "    " << label << " " << printable(node.node) << " (ranks " << ranks_text(node.ranks) << "): " << verdict_reason(node)
        << "\n";
  }
  if (history_runs >= 0) {
    const std::size_t own = verdicts.held_against_own_normal();
    out << "  Held against their own normal from " << history_runs << " earlier " << (history_runs == 1 ? "run" : "runs")
        << ": " << own << " of " << verdicts.nodes.size() << " nodes";
    if (own < verdicts.nodes.size())
      out << "; the others, with fewer than " << MIN_HISTORY_RUNS << " runs of the same shape, by their peers alone";
    out << "\n";
    write_lowered_peer_lines(out, verdicts);
  }
  const std::string to_drain = drain_host_list(verdicts);
  if (!to_drain.empty()) out << "  To drain (slow and failed): " << to_drain << "\n";
  if (!verdicts.enough_nodes) {
    out << "  Too few nodes to compare (fewer than " << MIN_COMPARED_NODES << "): no node is judged slow.\n";
    return;
  }
  std::string judged, short_ones;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::string& list = verdicts.judged[m] ? judged : short_ones;
    list += (list.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key);
  }
  out << "  Judged on: " << (judged.empty() ? "nothing" : judged);
  if (!short_ones.empty()) out << " (left out, shorter than " << MIN_JUDGED_SECONDS << " s: " << short_ones << ")";
  out << "\n";
}

std::string worker_label(const WorkerFigures& worker) {
  return "Thread:" + std::to_string(worker.rank) + " @" + printable(worker.node);
}

}  // namespace

void write_text(std::ostream& out, const std::vector<JudgedRun>& runs) {
  for (const JudgedRun& run : runs) {
    const ResultFile& file = *run.file;
    const Verdicts& verdicts = run.verdicts;
    out << run_line(file, verdicts.nodes.size()) << "\n";
    write_verdict_text(out, verdicts, run.history_runs);
    for (int i = 0; i < MEASUREMENT_COUNT; ++i) {
      const MeasurementFigures& m = file.measurements[i];
      const std::string unit = MEASUREMENTS[i].unit;
      out << "  " << MEASUREMENTS[i].title << "\n";
      out << "    rank 0 alone: " << rate_text(m.rank0_figure, unit) << "\n";
      if (m.workers.empty()) continue;
      const WorkerSpread spread = spread_of(m);
      out << "    cluster total: " << rate_text(m.total, unit) << " (" << three_figures(m.improvement)
          << " times rank 0); " << count_text(m.workers.size(), "worker") << ": median " << rate_text(spread.median, unit)
          << ", min " << rate_text(spread.min, unit) << ", max " << rate_text(spread.max, unit) << "\n";
      std::string failed;
      for (const WorkerFigures& worker : m.workers)
        if (std::isnan(worker.figure)) failed += (failed.empty() ? "" : ", ") + worker_label(worker);
      if (!failed.empty()) out << "    failed: " << failed << "\n";
    }
  }
}

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

json file_json(const JudgedRun& run) {
  const ResultFile& file = *run.file;
  const Verdicts& verdicts = run.verdicts;
  json nodes = json::array(), measurements = json::array();
  for (const NodeVerdict& node : verdicts.nodes) nodes.push_back(node_json(node));
  for (int i = 0; i < MEASUREMENT_COUNT; ++i) measurements.push_back(measurement_json(i, file.measurements[i], verdicts));
  return {{"file", file.source},
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
          {"nodes", nodes},
          {"measurements", measurements}};
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

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

struct CsvRow {
  std::string node, verdict, role, rank;
  int measurement;
  double seconds = NO_FIGURE, figure = NO_FIGURE, ratio = NO_FIGURE;
  bool low = false, failed = false;
  bool no_answer = false;  // given up by rank 0 in this measurement or before
  const NodeVerdict* judged_node = nullptr;  // node rows: its own normal and cause
};

// A ratio at full precision; - when not compared.
std::string csv_ratio(double ratio) { return std::isnan(ratio) ? "-" : exact_text(ratio); }

// own_normal,own_line,own_low,cause: a node row's, empty elsewhere.
std::string own_fields(const CsvRow& row) {
  const NodeVerdict* node = row.judged_node;
  if (node == nullptr) return ",,,";
  const int m = row.measurement;
  const std::string low = node->own.known(m) ? (node->own.low[m] ? "yes" : "no") : "";
  return csv_ratio(node->own.normal[m]) + ',' + csv_ratio(node->own.line[m]) + ',' + low + ',' +
         cause_key(node->cause.cause);
}

// The measurement a worker was given up in, or MEASUREMENT_COUNT.
int lost_from(const ResultFile& file, int rank) {
  for (const LostRank& lost : file.lost)
    if (lost.rank == rank) return lost.measurement;
  return MEASUREMENT_COUNT;
}

void csv_row(std::ostream& out, const ResultFile& file, const CsvRow& row) {
  out << csv_field(file.source) << ',' << file.stamp.time_stamp << ',' << csv_field(file.stamp.time_zone) << ','
      << csv_field(file.stamp.rank0_node) << ',' << file.ranks << ',' << csv_field(row.node) << ',' << row.verdict
      << ',' << row.role << ',' << row.rank << ',' << MEASUREMENTS[row.measurement].key << ','
      << MEASUREMENTS[row.measurement].unit << ',' << exact_text(row.seconds) << ',' << exact_text(row.figure)
      << ',' << csv_ratio(row.ratio) << ',' << (row.low ? "yes" : "no") << ',' << (row.failed ? "yes" : "no")
      << ',' << (row.no_answer ? "yes" : "no") << ',' << own_fields(row) << "\n";
}

}  // namespace

void write_csv(std::ostream& out, const std::vector<JudgedRun>& runs) {
  out << "file,time_stamp,time_zone,rank0_node,ranks,node,verdict,role,rank,measurement,unit,seconds,figure,"
         "ratio,low,failed,no_answer,own_normal,own_line,own_low,cause\n";
  for (const JudgedRun& run : runs) {
    const ResultFile& file = *run.file;
    const Verdicts& verdicts = run.verdicts;
    // The verdicts first: one row per node and measurement, worst nodes first.
    for (const NodeVerdict& node : verdicts.nodes)
      for (int m = 0; m < MEASUREMENT_COUNT; ++m)
        csv_row(out, file, {node.node, verdict_name(node.verdict), "node", "", m, NO_FIGURE, NO_FIGURE,
                            node.ratios[m], node.low[m] || node.own.low[m], node.failed[m],
                            node.no_answer_in >= 0 && m >= node.no_answer_in, &node});
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      const MeasurementFigures& figures = file.measurements[m];
      const bool rank0_failed = !std::isnan(figures.rank0_seconds) && std::isnan(figures.rank0_figure);
      const NodeVerdict* rank0_node = verdicts.of(file.stamp.rank0_node);
      csv_row(out, file, {file.stamp.rank0_node, rank0_node ? verdict_name(rank0_node->verdict) : "", "rank0", "0", m,
                          figures.rank0_seconds, figures.rank0_figure, NO_FIGURE, false, rank0_failed});
      for (const WorkerFigures& worker : figures.workers) {
        const NodeVerdict* node = verdicts.of(worker.node);
        csv_row(out, file, {worker.node, node ? verdict_name(node->verdict) : "", "worker", std::to_string(worker.rank),
                            m, worker.seconds, worker.figure, NO_FIGURE, verdicts.slow_in(worker, m),
                            std::isnan(worker.figure), m >= lost_from(file, worker.rank)});
      }
    }
  }
}

// ---- comparing runs ---------------------------------------------------------------

namespace {


std::string relative_changes(const NodeChange& node) {
  std::string text;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (node.slower_in[m]) text += (text.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key) + " " + ratio_text(node.relative[m]);
  return text;
}

json run_stamp_json(const ResultFile& file) {
  return {{"file", file.source}, {"time_stamp", stamp_json(file.stamp.time_stamp)},
          {"time_zone", stamp_json(file.stamp.time_zone)}, {"rank0_node", stamp_json(file.stamp.rank0_node)},
          {"ranks", file.ranks}, {"complete", file.complete}};
}

}  // namespace

void write_comparison_text(std::ostream& out, const std::vector<const ResultFile*>& runs, const Comparison& comparison) {
  out << "Compared: " << run_label(*comparison.baseline) << "\n      to: " << run_label(*comparison.run) << "\n";
  out << "  The cluster's change (median of the nodes'):";
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    out << " " << MEASUREMENTS[m].key << " x" << ratio_text(comparison.shift[m]) << (comparison.judged[m] ? "" : " (not judged)");
  out << "\n";
  const std::vector<std::string> slower = comparison.slower();
  out << "  Slower than the cluster (below " << figure_text(SLOWER_RATIO) << " x its change in at least "
      << SLOWER_MEASUREMENTS << " measurements): " << (slower.empty() ? "none" : "") << "\n";
  for (const NodeChange& node : comparison.nodes)
    if (node.slower) out << "    " << printable(node.node) << ": " << relative_changes(node) << "\n";
  auto list = [&](const char* label, const std::vector<std::string>& names) {
    if (names.empty()) return;
    out << "  " << label << " (" << names.size() << "):";
    for (const std::string& name : names) out << " " << name;
    out << "\n";
  };
  list("Only in the earlier run", comparison.only_in_baseline);
  list("Only in the later run", comparison.only_in_run);
  if (runs.size() > 2)
    out << "  History: " << runs.size() << " runs, " << run_label(*runs.front()) << " to " << run_label(*runs.back())
        << "; --json and --csv give each node's figures over them.\n";
  out << "\n";
  write_text(out, {JudgedRun{comparison.run, judge_nodes(*comparison.run)}});
}

void write_comparison_json(std::ostream& out, const std::vector<const ResultFile*>& runs, const Comparison& comparison) {
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

void write_comparison_csv(std::ostream& out, const std::vector<const ResultFile*>& runs, const Comparison& comparison) {
  out << "time_stamp,time_zone,file,node,verdict";
  for (const MeasurementInfo& info : MEASUREMENTS) out << ',' << info.key;
  for (const MeasurementInfo& info : MEASUREMENTS) out << ',' << info.key << "_relative_change";
  out << ",slower\n";
  const std::vector<NodeHistory> histories = node_histories(runs);
  std::map<std::string, const NodeChange*> change_of;
  for (const NodeChange& change : comparison.nodes) change_of[change.node] = &change;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const ResultFile& run = *runs[i];
    const bool compared = &run == comparison.run;
    for (const NodeHistory& node : histories) {
      const NodeHistory::Point& point = node.points[i];
      if (!point.present) continue;
      out << run.stamp.time_stamp << ',' << csv_field(run.stamp.time_zone) << ',' << csv_field(run.source) << ','
          << csv_field(node.node) << ',' << verdict_name(point.verdict);
      for (double figure : point.figures) out << ',' << exact_text(figure);
      const NodeChange* change = compared && change_of.count(node.node) ? change_of.at(node.node) : nullptr;
      for (int m = 0; m < MEASUREMENT_COUNT; ++m) out << ',' << (change ? ratio_text(change->relative[m]) : "");
      out << ',' << (change ? (change->slower ? "yes" : "no") : "") << "\n";
    }
  }
}
