#include "outputs.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

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

std::string ranks_text(const std::vector<int>& ranks) {
  std::string text;
  for (int rank : ranks) text += (text.empty() ? "" : ", ") + std::to_string(rank);
  return text;
}

std::string measurements_with_ratios(const NodeVerdict& node, const std::vector<int>& indices) {
  std::string text;
  for (int m : indices)
    text += (text.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key) + " " + ratio_text(node.ratios[m]);
  return text;
}

std::string verdict_detail(const NodeVerdict& node) {
  if (node.verdict == Verdict::failed) {
    std::string keys;
    for (int m : node.failed_in()) keys += (keys.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key);
    return "failed in " + keys;
  }
  return "below " + figure_text(LOW_RATIO) + " x the other nodes' median: " + measurements_with_ratios(node, node.low_in());
}

namespace {

std::string run_line(const ResultFile& file, std::size_t node_count) {
  std::string line = file.source + ": " + std::to_string(file.ranks) + (file.ranks == 1 ? " rank" : " ranks") +
                     " on " + std::to_string(node_count) + (node_count == 1 ? " node" : " nodes");
  if (!file.stamp.time_stamp.empty())
    line += ", started " + file.stamp.time_stamp + " " + file.stamp.time_zone + ", rank 0 on " + file.stamp.rank0_node;
  return line + (file.complete ? "" : ", TRUNCATED: " + file.truncation);
}

void write_verdict_text(std::ostream& out, const Verdicts& verdicts) {
  std::size_t counts[4] = {};
  for (const NodeVerdict& node : verdicts.nodes) ++counts[static_cast<int>(node.verdict)];
  out << "  Nodes: " << counts[static_cast<int>(Verdict::slow)] << " slow, "
      << counts[static_cast<int>(Verdict::suspect)] << " suspect, " << counts[static_cast<int>(Verdict::failed)]
      << " failed, " << counts[static_cast<int>(Verdict::ok)] << " ok\n";
  for (const NodeVerdict& node : verdicts.nodes) {
    if (node.verdict == Verdict::ok) continue;
    char label[16];
    std::snprintf(label, sizeof label, "%-8s", verdict_name(node.verdict));
    out << "    " << label << " " << node.node << " (ranks " << ranks_text(node.ranks) << "): " << verdict_detail(node)
        << "\n";
  }
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

std::string worker_label(const WorkerFigures& worker) { return "Thread:" + std::to_string(worker.rank) + " @" + worker.node; }

}  // namespace

void write_text(std::ostream& out, const std::vector<ResultFile>& files) {
  for (const ResultFile& file : files) {
    const Verdicts verdicts = judge_nodes(file);
    out << run_line(file, verdicts.nodes.size()) << "\n";
    write_verdict_text(out, verdicts);
    for (int i = 0; i < MEASUREMENT_COUNT; ++i) {
      const MeasurementFigures& m = file.measurements[i];
      out << "  " << MEASUREMENTS[i].title << " (" << MEASUREMENTS[i].unit << ")\n";
      out << "    rank 0 alone: " << figure_text(m.rank0_figure) << "\n";
      if (m.workers.empty()) continue;
      const WorkerSpread spread = spread_of(m);
      out << "    cluster total: " << figure_text(m.total) << " (" << figure_text(m.improvement)
          << " times rank 0); " << m.workers.size() << " workers: median " << figure_text(spread.median) << ", min "
          << figure_text(spread.min) << ", max " << figure_text(spread.max) << "\n";
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

json node_json(const NodeVerdict& node) {
  json ratios = json::object();
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) ratios[MEASUREMENTS[m].key] = number(node.ratios[m]);
  return {{"node", node.node},         {"ranks", node.ranks},
          {"workers", node.workers},   {"verdict", verdict_name(node.verdict)},
          {"slow_in", keys_of(node.low_in())}, {"failed_in", keys_of(node.failed_in())},
          {"ratios", ratios}};
}

bool worker_is_slow(const Verdicts& verdicts, const WorkerFigures& worker, int m) {
  const NodeVerdict* node = verdicts.of(worker.node);
  return node != nullptr && node->verdict == Verdict::slow && node->low[m];
}

json measurement_json(int index, const MeasurementFigures& m, const Verdicts& verdicts) {
  const WorkerSpread spread = spread_of(m);
  json workers = json::array(), slow_ranks = json::array(), failed_ranks = json::array();
  for (const WorkerFigures& worker : m.workers) {
    const bool slow = worker_is_slow(verdicts, worker, index), failed = std::isnan(worker.figure);
    workers.push_back({{"rank", worker.rank}, {"node", worker.node}, {"seconds", number(worker.seconds)},
                       {"figure", number(worker.figure)}, {"slow", slow}, {"failed", failed}});
    if (slow) slow_ranks.push_back(worker.rank);
    if (failed) failed_ranks.push_back(worker.rank);
  }
  json entry = {{"key", MEASUREMENTS[index].key},
                {"title", MEASUREMENTS[index].title},
                {"unit", MEASUREMENTS[index].unit},
                {"judged", verdicts.judged[index]},
                {"median_seconds", number(verdicts.median_seconds[index])},
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

json file_json(const ResultFile& file) {
  const Verdicts verdicts = judge_nodes(file);
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
          {"verdict_rule", {{"low_ratio", LOW_RATIO}, {"slow_measurements", SLOW_MEASUREMENTS},
                            {"min_judged_seconds", MIN_JUDGED_SECONDS}, {"min_compared_nodes", MIN_COMPARED_NODES}}},
          {"slow_nodes", verdicts.named(Verdict::slow)},
          {"suspect_nodes", verdicts.named(Verdict::suspect)},
          {"failed_nodes", verdicts.named(Verdict::failed)},
          {"nodes", nodes},
          {"measurements", measurements}};
}

}  // namespace

void write_json(std::ostream& out, const std::vector<ResultFile>& files) {
  json document;
  if (files.size() == 1) {
    document = file_json(files.front());
  } else {
    document = json::array();
    for (const ResultFile& file : files) document.push_back(file_json(file));
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
};

void csv_row(std::ostream& out, const ResultFile& file, const CsvRow& row) {
  out << csv_field(file.source) << ',' << file.stamp.time_stamp << ',' << csv_field(file.stamp.time_zone) << ','
      << csv_field(file.stamp.rank0_node) << ',' << file.ranks << ',' << csv_field(row.node) << ',' << row.verdict
      << ',' << row.role << ',' << row.rank << ',' << MEASUREMENTS[row.measurement].key << ','
      << MEASUREMENTS[row.measurement].unit << ',' << figure_text(row.seconds) << ',' << figure_text(row.figure)
      << ',' << ratio_text(row.ratio) << ',' << (row.low ? "yes" : "no") << ',' << (row.failed ? "yes" : "no")
      << "\n";
}

}  // namespace

void write_csv(std::ostream& out, const std::vector<ResultFile>& files) {
  out << "file,time_stamp,time_zone,rank0_node,ranks,node,verdict,role,rank,measurement,unit,seconds,figure,"
         "ratio,low,failed\n";
  for (const ResultFile& file : files) {
    const Verdicts verdicts = judge_nodes(file);
    // The verdicts first: one row per node and measurement, worst nodes first.
    for (const NodeVerdict& node : verdicts.nodes)
      for (int m = 0; m < MEASUREMENT_COUNT; ++m)
        csv_row(out, file, {node.node, verdict_name(node.verdict), "node", "", m, NO_FIGURE, NO_FIGURE,
                            node.ratios[m], node.low[m], node.failed[m]});
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      const MeasurementFigures& figures = file.measurements[m];
      const bool rank0_failed = !std::isnan(figures.rank0_seconds) && std::isnan(figures.rank0_figure);
      const NodeVerdict* rank0_node = verdicts.of(file.stamp.rank0_node);
      csv_row(out, file, {file.stamp.rank0_node, rank0_node ? verdict_name(rank0_node->verdict) : "", "rank0", "0", m,
                          figures.rank0_seconds, figures.rank0_figure, NO_FIGURE, false, rank0_failed});
      for (const WorkerFigures& worker : figures.workers) {
        const NodeVerdict* node = verdicts.of(worker.node);
        csv_row(out, file, {worker.node, node ? verdict_name(node->verdict) : "", "worker", std::to_string(worker.rank),
                            m, worker.seconds, worker.figure, NO_FIGURE, worker_is_slow(verdicts, worker, m),
                            std::isnan(worker.figure)});
      }
    }
  }
}
