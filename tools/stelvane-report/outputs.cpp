#include "outputs.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "analysis.h"

std::string figure_text(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

namespace {

std::string worker_label(const WorkerFigures& worker) {
  return "Thread:" + std::to_string(worker.rank) + " @" + worker.node;
}

std::string labels_of(const std::vector<const WorkerFigures*>& workers, bool with_figures) {
  std::string text;
  for (const WorkerFigures* worker : workers) {
    if (!text.empty()) text += ", ";
    text += worker_label(*worker);
    if (with_figures) text += " (" + figure_text(worker->figure) + ")";
  }
  return text;
}

}  // namespace

void write_text(std::ostream& out, const std::vector<ResultFile>& files) {
  for (const ResultFile& file : files) {
    out << file.source << ": " << file.ranks << (file.ranks == 1 ? " rank" : " ranks")
        << (file.complete ? "" : ", TRUNCATED: " + file.truncation) << "\n";
    for (int i = 0; i < MEASUREMENT_COUNT; ++i) {
      const MeasurementFigures& m = file.measurements[i];
      out << "  " << MEASUREMENTS[i].title << " (" << MEASUREMENTS[i].unit << ")\n";
      out << "    rank 0 alone: " << figure_text(m.rank0_figure) << "\n";
      if (m.workers.empty()) continue;
      const WorkerSpread spread = spread_of(m);
      out << "    cluster total: " << figure_text(m.total) << " (" << figure_text(m.improvement)
          << " times rank 0); " << m.workers.size() << " workers: median " << figure_text(spread.median)
          << ", min " << figure_text(spread.min) << ", max " << figure_text(spread.max) << "\n";
      if (!spread.slow.empty()) out << "    slow: " << labels_of(spread.slow, true) << "\n";
      if (!spread.failed.empty()) out << "    failed: " << labels_of(spread.failed, false) << "\n";
    }
  }
}

namespace {

using nlohmann::json;

// NaN figures (failed measurements) become null.
json number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json ranks_of(const std::vector<const WorkerFigures*>& workers) {
  json ranks = json::array();
  for (const WorkerFigures* worker : workers) ranks.push_back(worker->rank);
  return ranks;
}


json measurement_json(int index, const MeasurementFigures& m) {
  const WorkerSpread spread = spread_of(m);
  json workers = json::array();
  for (const WorkerFigures& worker : m.workers)
    workers.push_back({{"rank", worker.rank}, {"node", worker.node}, {"seconds", number(worker.seconds)},
                       {"figure", number(worker.figure)}, {"slow", is_listed(spread.slow, worker)},
                       {"failed", is_listed(spread.failed, worker)}});
  json entry = {{"key", MEASUREMENTS[index].key},
                {"title", MEASUREMENTS[index].title},
                {"unit", MEASUREMENTS[index].unit},
                {"rank0", {{"seconds", number(m.rank0_seconds)}, {"figure", number(m.rank0_figure)}}},
                {"cluster", nullptr},
                {"workers", workers},
                {"slow_ranks", ranks_of(spread.slow)},
                {"failed_ranks", ranks_of(spread.failed)}};
  if (!m.workers.empty())
    entry["cluster"] = {{"total", number(m.total)},       {"improvement", number(m.improvement)},
                        {"average", number(m.average)},   {"median", number(spread.median)},
                        {"min", number(spread.min)},       {"max", number(spread.max)},
                        {"mad", number(spread.mad)}};
  return entry;
}

json file_json(const ResultFile& file) {
  json measurements = json::array();
  for (int i = 0; i < MEASUREMENT_COUNT; ++i) measurements.push_back(measurement_json(i, file.measurements[i]));
  return {{"file", file.source},
          {"ranks", file.ranks},
          {"complete", file.complete},
          {"truncation", file.complete ? json(nullptr) : json(file.truncation)},
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

void csv_row(std::ostream& out, const ResultFile& file, int index, int rank, const std::string& node,
             const char* role, double seconds, double figure, bool slow, bool failed) {
  out << csv_field(file.source) << ',' << file.ranks << ',' << MEASUREMENTS[index].key << ','
      << MEASUREMENTS[index].unit << ',' << rank << ',' << csv_field(node) << ',' << role << ','
      << figure_text(seconds) << ',' << figure_text(figure) << ',' << (slow ? "yes" : "no") << ','
      << (failed ? "yes" : "no") << "\n";
}

}  // namespace

void write_csv(std::ostream& out, const std::vector<ResultFile>& files) {
  out << "file,ranks,measurement,unit,rank,node,role,seconds,figure,slow,failed\n";
  for (const ResultFile& file : files)
    for (int i = 0; i < MEASUREMENT_COUNT; ++i) {
      const MeasurementFigures& m = file.measurements[i];
      const WorkerSpread spread = spread_of(m);
      const bool rank0_failed = !std::isnan(m.rank0_seconds) && std::isnan(m.rank0_figure);
      csv_row(out, file, i, 0, "", "rank0", m.rank0_seconds, m.rank0_figure, false, rank0_failed);
      for (const WorkerFigures& worker : m.workers)
        csv_row(out, file, i, worker.rank, worker.node, "worker", worker.seconds, worker.figure,
                is_listed(spread.slow, worker), is_listed(spread.failed, worker));
    }
}
