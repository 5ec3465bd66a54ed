// The HTML page: for every measurement of every file a bar chart (inline
// SVG) of the workers' figures by rank, a line at rank 0's own figure, slow
// nodes in a colour of their own, and a table of the numbers. No script and
// nothing loaded from elsewhere.
#include <algorithm>
#include <cmath>

#include "verdict.h"
#include "outputs.h"

namespace {

const char* const STYLE = R"(
body { font-family: sans-serif; margin: 2em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.2em; margin-top: 2em; } h3 { font-size: 1em; margin-top: 1.5em; }
.bar { fill: #4a7fb5; } .bar.slow { fill: #d62728; } .bar.failed { fill: #bbb; }
.rank0 { stroke: #2ca02c; stroke-width: 2; stroke-dasharray: 6 3; }
.axis { stroke: #444; } .label { font-size: 10px; fill: #444; }
table { border-collapse: collapse; font-size: 0.85em; margin-top: 0.5em; }
td, th { border: 1px solid #ccc; padding: 2px 8px; text-align: right; } td.node { text-align: left; }
tr.slow td { background: #fde0e0; } tr.failed td { color: #888; }
.key span { display: inline-block; width: 12px; height: 12px; margin: 0 4px 0 12px; vertical-align: middle; }
)";

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}


const char* status_of(const Verdicts& verdicts, int m, const WorkerFigures& worker) {
  if (std::isnan(worker.figure)) return "failed";
  const NodeVerdict* node = verdicts.of(worker.node);
  if (node != nullptr && node->verdict == Verdict::slow && node->low[m]) return "slow";
  return "";
}

// Bars of the workers' figures; a failed worker gets a short grey bar.
void write_chart(std::ostream& out, int index, const MeasurementFigures& m, const Verdicts& verdicts) {
  const char* key = MEASUREMENTS[index].key;
  const double plot_height = 220, left = 50, bottom = 90;
  const double bar_step = std::clamp(900.0 / std::max<std::size_t>(m.workers.size(), 1), 2.0, 40.0);
  const double width = left + bar_step * m.workers.size() + 20;
  double top = std::isfinite(m.rank0_figure) ? m.rank0_figure : 0.0;
  for (const WorkerFigures& worker : m.workers)
    if (std::isfinite(worker.figure)) top = std::max(top, worker.figure);
  if (top <= 0) top = 1;
  const auto y_of = [&](double figure) { return 10 + plot_height * (1 - figure / top); };

  out << "<svg class=\"chart\" data-measurement=\"" << key << "\" width=\"" << width << "\" height=\""
      << plot_height + bottom + 10 << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
  out << "<line class=\"axis\" x1=\"" << left << "\" y1=\"" << y_of(0) << "\" x2=\"" << width - 10 << "\" y2=\""
      << y_of(0) << "\"/>\n";
  out << "<text class=\"label\" x=\"2\" y=\"14\">" << figure_text(top) << "</text>\n";
  for (std::size_t i = 0; i < m.workers.size(); ++i) {
    const WorkerFigures& worker = m.workers[i];
    const std::string status = status_of(verdicts, index, worker);
    const double x = left + bar_step * i + bar_step * 0.1;
    const double figure = std::isfinite(worker.figure) ? worker.figure : top * 0.02;
    out << "<rect class=\"bar" << (status.empty() ? "" : " " + status) << "\" data-rank=\"" << worker.rank
        << "\" x=\"" << x << "\" y=\"" << y_of(figure) << "\" width=\"" << bar_step * 0.8 << "\" height=\""
        << y_of(0) - y_of(figure) << "\"><title>Thread:" << worker.rank << " @" << escaped(worker.node) << ": "
        << figure_text(worker.figure) << "</title></rect>\n";
    if (bar_step >= 10)
      out << "<text class=\"label\" transform=\"translate(" << x + bar_step * 0.5 << "," << y_of(0) + 6
          << ") rotate(60)\">" << worker.rank << " @" << escaped(worker.node) << "</text>\n";
  }
  if (std::isfinite(m.rank0_figure))
    out << "<line class=\"rank0\" x1=\"" << left << "\" y1=\"" << y_of(m.rank0_figure) << "\" x2=\""
        << width - 10 << "\" y2=\"" << y_of(m.rank0_figure) << "\"><title>rank 0 alone: "
        << figure_text(m.rank0_figure) << "</title></line>\n";
  out << "</svg>\n";
}

void write_table(std::ostream& out, int index, const MeasurementFigures& m, const Verdicts& verdicts, const char* unit) {
  out << "<table><tr><th>rank</th><th>node</th><th>seconds</th><th>" << unit << "</th><th>status</th></tr>\n";
  out << "<tr class=\"rank0\"><td>0</td><td class=\"node\">rank 0 alone</td><td>" << figure_text(m.rank0_seconds)
      << "</td><td>" << figure_text(m.rank0_figure) << "</td><td></td></tr>\n";
  for (const WorkerFigures& worker : m.workers) {
    const std::string status = status_of(verdicts, index, worker);
    out << "<tr class=\"worker " << status << "\"><td>" << worker.rank << "</td><td class=\"node\">"
        << escaped(worker.node) << "</td><td>" << figure_text(worker.seconds) << "</td><td>"
        << figure_text(worker.figure) << "</td><td>" << status << "</td></tr>\n";
  }
  if (!m.workers.empty())
    out << "<tr><td></td><td class=\"node\">cluster total (" << figure_text(m.improvement)
        << " times rank 0)</td><td></td><td>" << figure_text(m.total) << "</td><td></td></tr>\n";
  out << "</table>\n";
}

}  // namespace

void write_html(std::ostream& out, const std::vector<ResultFile>& files) {
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<title>stelvane-mpi results</title>\n<style>"
      << STYLE << "</style></head>\n<body>\n<h1>stelvane-mpi results</h1>\n"
      << "<p class=\"key\">Bars: each worker's figure by rank<span style=\"background:#4a7fb5\"></span>worker"
         "<span style=\"background:#d62728\"></span>slow node<span style=\"background:#bbb\"></span>failed"
         "<span style=\"background:#2ca02c\"></span>rank 0 alone (dashed line)</p>\n";
  for (const ResultFile& file : files) {
    out << "<section class=\"file\"><h2>" << escaped(file.source) << ": " << file.ranks
        << (file.ranks == 1 ? " rank" : " ranks") << "</h2>\n";
    if (!file.complete) out << "<p class=\"truncated\">Truncated: " << escaped(file.truncation) << "</p>\n";
    const Verdicts verdicts = judge_nodes(file);
    for (int i = 0; i < MEASUREMENT_COUNT; ++i) {
      const MeasurementFigures& m = file.measurements[i];
      out << "<div class=\"measurement\" id=\"" << MEASUREMENTS[i].key << "\"><h3>" << MEASUREMENTS[i].title
          << " (" << MEASUREMENTS[i].unit << ")</h3>\n";
      write_chart(out, i, m, verdicts);
      write_table(out, i, m, verdicts, MEASUREMENTS[i].unit);
      out << "</div>\n";
    }
    out << "</section>\n";
  }
  out << "</body></html>\n";
}
