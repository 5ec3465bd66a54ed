// The page's pictures: the heat map of every node against the others, a
// chart per measurement, and a node's trend against its own normal.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "judging/verdict.h"
#include "writing/html_parts.h"
#include "writing/units.h"
#include "writing/wording.h"

namespace {

// Workers up to which a chart draws a bar per rank; beyond, the sorted figures.
constexpr std::size_t BAR_LIMIT = 64;
// Workers up to which each bar is labelled with its rank.
constexpr std::size_t RANK_LABEL_LIMIT = 32;
// Nodes up to which the heat map is a table with names and numbers.
constexpr std::size_t LABELLED_HEAT_MAP_LIMIT = 64;
// Rows of one column of the compact heat map.
constexpr std::size_t HEAT_MAP_ROWS = 128;
// Points of a sorted-figures curve: enough for the eye, few for the page.
constexpr std::size_t CURVE_POINTS = 400;

// A step of 1, 2 or 5 times a power of ten that cuts [0, top] into 4 to 10.
double tick_step(double top) {
  const double rough = top / 5;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double factor : {1.0, 2.0, 5.0, 10.0})
    if (factor * power >= rough) return factor * power;
  return 10 * power;
}

void write_heat_key(std::ostream& out) {
  out << "<p class=\"key\">figure against what judged it (the median of its group, or of all other nodes; "
         "its own normal where lower):"
         "<span class=\"h0\"></span>under 0.25<span class=\"h1\"></span>under "
      << figure_text(LOW_RATIO_FLOOR)
      << " (always low)<span class=\"h2\"></span>under 0.75<span class=\"h3\"></span>under 0.9"
         "<span class=\"h4\"></span>0.9 to 1.1<span class=\"h5\"></span>above 1.1"
         "<span class=\"hf\"></span>failed<span class=\"hn\"></span>not compared. Faded columns: measurements "
         "too short to judge.</p>\n";
}

// A cell's value: its figure against what judged it, the worse of its
// ratio to its group's (or every node's) median and its level over its own
// normal where kept runs give it one. A healthy node of a slower kind is as
// green as any; a node of a rack that fell together is red, whatever its
// group makes of it.
double judged_share(const NodeVerdict& node, int m) {
  const double ratio = node.ratios[m];
  if (!node.own.known(m) || std::isnan(node.own.deviation[m])) return ratio;
  return std::isnan(ratio) ? node.own.deviation[m] : std::min(ratio, node.own.deviation[m]);
}

// "cn0007 streams 0.62, line 0.80; own 0.61, line 0.93, low": its ratio
// to its peers and, where it has one, its level over its own normal. Short:
// a page of 4,096 nodes has 24,576 of them.
std::string cell_title(const NodeVerdict& node, int m) {
  std::string title = escaped(node.node) + " " + MEASUREMENTS[m].key + " ";
  if (node.failed[m]) return title + "failed";
  title += ratio_text(node.ratios[m]) + ", line " + ratio_text(node.lines[m]);
  if (node.own.known(m))
    title += "; own " + ratio_text(node.own.deviation[m]) + ", line " + ratio_text(node.own.line[m] / node.own.normal[m]);
  return title + (node.low[m] || node.own.low[m] ? ", low" : "");
}

// The measurement in which a node lies furthest below its own normal (else
// its peers' median), or -1 when it has no judged ratio.
int furthest_below(const NodeVerdict& node, const bool judged[MEASUREMENT_COUNT]) {
  int chosen = -1;
  double lowest = NO_FIGURE;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    const double deviation = node.own.known(m) ? node.own.deviation[m] : node.ratios[m];
    if (judged[m] && !std::isnan(deviation) && !(deviation >= lowest)) {
      lowest = deviation;
      chosen = m;
    }
  }
  return chosen;
}

// ---- the heat map ---------------------------------------------------------------

void write_labelled_heat_map(std::ostream& out, const Verdicts& verdicts) {
  out << "<table class=\"heat\"><tr><th class=\"l\">node</th>";
  for (const MeasurementInfo& info : MEASUREMENTS) out << "<th>" << info.key << "</th>";
  out << "</tr>\n";
  for (const NodeVerdict& node : verdicts.nodes) {
    out << "<tr><td class=\"l\">" << escaped(node.node) << "</td>";
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      out << "<td class=\"hc " << heat_class(judged_share(node, m), node.failed[m]) << (verdicts.judged[m] ? "" : " u")
          << "\" title=\"" << cell_title(node, m) << "\">" << (node.failed[m] ? "failed" : ratio_text(judged_share(node, m)))
          << "</td>";
    out << "</tr>\n";
  }
  out << "</table>\n";
}

// Every node a row of six cells, worst first, top to bottom in columns of
// HEAT_MAP_ROWS nodes, left to right.
void write_compact_heat_map(std::ostream& out, const Verdicts& verdicts) {
  const std::size_t rows = std::min(HEAT_MAP_ROWS, verdicts.nodes.size());
  const int cell_width = verdicts.nodes.size() > 512 ? 4 : 8;
  out << "<p class=\"meta\">Each node is a row of six cells (";
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) out << (m ? ", " : "") << MEASUREMENTS[m].key;
  out << "), the worst nodes first, top to bottom, then left to right. Hover over a cell for its node.</p>\n";
  out << "<div class=\"hm\" style=\"--rows:" << rows << ";--cell:" << cell_width << "px\">";
  for (const NodeVerdict& node : verdicts.nodes) {
    out << "<b>";
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      out << "<i class=\"hc " << heat_class(judged_share(node, m), node.failed[m]) << (verdicts.judged[m] ? "" : " u")
          << "\" title=\"" << cell_title(node, m) << "\"></i>";
    out << "</b>";
  }
  out << "</div>\n";
}

// ---- a chart per measurement -------------------------------------------------------

struct Plot {
  double width = 640, height = 190, left = 56, right = 12, top = 10, bottom = 34;
  double ceiling = 1;  // figure at the top
  RateScale scale;     // the unit the figures read in
  double x0() const { return left; }
  double x1() const { return width - right; }
  double y_of(double figure) const { return top + (height - top - bottom) * (1 - figure / ceiling); }
};

// Ticks at 1, 2 or 5 times a power of ten of the unit the figures read in.
void write_axes(std::ostream& out, const Plot& plot, const std::string& x_label) {
  const double step = tick_step(plot.ceiling / plot.scale.size) * plot.scale.size;
  for (double tick = 0; tick <= plot.ceiling * 1.0001; tick += step) {
    const double y = plot.y_of(tick);
    out << "<line class=\"grid\" x1=\"" << plot.x0() << "\" y1=\"" << y << "\" x2=\"" << plot.x1() << "\" y2=\"" << y
        << "\"/><text class=\"tick\" x=\"" << plot.x0() - 4 << "\" y=\"" << y + 3 << "\" text-anchor=\"end\">"
        << three_figures(tick / plot.scale.size) << "</text>";
  }
  out << "<line class=\"axis\" x1=\"" << plot.x0() << "\" y1=\"" << plot.y_of(0) << "\" x2=\"" << plot.x1()
      << "\" y2=\"" << plot.y_of(0) << "\"/><line class=\"axis\" x1=\"" << plot.x0() << "\" y1=\"" << plot.top
      << "\" x2=\"" << plot.x0() << "\" y2=\"" << plot.y_of(0) << "\"/>";
  out << "<text class=\"tick\" x=\"" << (plot.x0() + plot.x1()) / 2 << "\" y=\"" << plot.height - 4
      << "\" text-anchor=\"middle\">" << x_label << "</text>\n";
}

void write_level(std::ostream& out, const Plot& plot, const char* css, double figure, const std::string& title) {
  if (!std::isfinite(figure) || figure > plot.ceiling) return;
  out << "<line class=\"" << css << "\" x1=\"" << plot.x0() << "\" y1=\"" << plot.y_of(figure) << "\" x2=\""
      << plot.x1() << "\" y2=\"" << plot.y_of(figure) << "\"><title>" << title << "</title></line>\n";
}


}  // namespace

// A small trend of a node's ratio in the measurement it lies furthest below
// its normal in: its earlier runs, then this one (a dot), its own normal
// (grey) and its own line (dashed).
void write_trend(std::ostream& out, const NodeVerdict& node, const bool judged[MEASUREMENT_COUNT]) {
  const int m = furthest_below(node, judged);
  if (m < 0 || node.own.earlier.empty() || node.verdict == Verdict::failed) return;
  std::vector<double> ratios;
  for (const std::vector<double>& run : node.own.earlier) ratios.push_back(run[m]);
  const double now = node.own.ratio[m];
  ratios.push_back(now);
  double low = now, high = now;
  for (double value : ratios)
    if (std::isfinite(value)) low = std::min(low, value), high = std::max(high, value);
  for (double value : {node.own.normal[m], node.own.line[m]})
    if (std::isfinite(value)) low = std::min(low, value), high = std::max(high, value);
  if (!(high > low)) high = low + 0.01;
  const double width = 140, height = 34, step = width / std::max<std::size_t>(ratios.size() - 1, 1);
  auto y = [&](double value) { return 2 + (height - 4) * (high - value) / (high - low); };
  char number[64];
  out << "<svg class=\"trend\" width=\"" << width << "\" height=\"" << height << "\"><title>" << MEASUREMENTS[m].key
      << ": its ratio in its last " << ratios.size() << " runs</title>";
  for (auto [value, style] : {std::pair{node.own.normal[m], "normal"}, std::pair{node.own.line[m], "threshold"}})
    if (std::isfinite(value)) {
      std::snprintf(number, sizeof number, "%.1f", y(value));
      out << "<line class=\"" << style << "\" x1=\"0\" x2=\"" << width << "\" y1=\"" << number << "\" y2=\"" << number
          << "\"/>";
    }
  out << "<polyline class=\"curve\" points=\"";
  for (std::size_t i = 0; i < ratios.size(); ++i)
    if (std::isfinite(ratios[i])) {
      std::snprintf(number, sizeof number, "%.1f,%.1f ", i * step, y(ratios[i]));
      out << number;
    }
  std::snprintf(number, sizeof number, "%.1f\" cy=\"%.1f", (ratios.size() - 1) * step, y(now));
  out << "\"/><circle class=\"dot slow\" r=\"2.5\" cx=\"" << number << "\"/></svg> " << MEASUREMENTS[m].key;
}

void write_heat_map(std::ostream& out, const Verdicts& verdicts) {
  write_heat_key(out);
  if (verdicts.nodes.size() <= LABELLED_HEAT_MAP_LIMIT)
    write_labelled_heat_map(out, verdicts);
  else
    write_compact_heat_map(out, verdicts);
}

void write_chart(std::ostream& out, int m, const MeasurementFigures& figures, const Verdicts& verdicts) {
  const WorkerSpread spread = spread_of(figures);
  const std::string unit = MEASUREMENTS[m].unit;
  auto rate = [&](double value) { return rate_text(value, unit); };
  Plot plot;
  double highest = std::isfinite(figures.rank0_figure) ? figures.rank0_figure : 0;
  if (std::isfinite(spread.max)) highest = std::max(highest, spread.max);
  plot.scale = rate_scale(highest, unit);
  const double scaled = highest / plot.scale.size;
  plot.ceiling = highest > 0 ? tick_step(scaled) * std::ceil(scaled / tick_step(scaled)) * plot.scale.size : 1;
  const bool bars = figures.workers.size() <= BAR_LIMIT;
  out << "<svg class=\"chart\" data-measurement=\"" << MEASUREMENTS[m].key << "\" width=\"" << plot.width
      << "\" height=\"" << plot.height << "\" xmlns=\"http://www.w3.org/2000/svg\">";
  write_axes(out, plot,
             std::string(bars ? "workers by rank" : "workers, lowest figure first") + " (" + plot.scale.name + ")");
  const double span = plot.x1() - plot.x0();
  if (bars) {
    const double step = span / std::max<std::size_t>(figures.workers.size(), 1);
    for (std::size_t i = 0; i < figures.workers.size(); ++i) {
      const WorkerFigures& worker = figures.workers[i];
      const bool failed = std::isnan(worker.figure);
      const double figure = failed ? plot.ceiling * 0.02 : worker.figure;
      out << "<rect class=\"bar" << (failed ? " failed" : verdicts.slow_in(worker, m) ? " slow" : "")
          << "\" data-rank=\"" << worker.rank << "\" x=\"" << plot.x0() + step * (i + 0.15) << "\" y=\""
          << plot.y_of(figure) << "\" width=\"" << step * 0.7 << "\" height=\"" << plot.y_of(0) - plot.y_of(figure)
          << "\"><title>Thread:" << worker.rank << " @" << escaped(worker.node) << ": " << rate(worker.figure)
          << "</title></rect>";
      if (figures.workers.size() <= RANK_LABEL_LIMIT)
        out << "<text class=\"tick\" x=\"" << plot.x0() + step * (i + 0.5) << "\" y=\"" << plot.y_of(0) + 12
            << "\" text-anchor=\"middle\">" << worker.rank << "</text>";
    }
  } else {
    std::vector<const WorkerFigures*> sorted;
    for (const WorkerFigures& worker : figures.workers)
      if (!std::isnan(worker.figure)) sorted.push_back(&worker);
    std::sort(sorted.begin(), sorted.end(),
              [](const WorkerFigures* a, const WorkerFigures* b) { return a->figure < b->figure; });
    const auto x_of = [&](std::size_t i) { return plot.x0() + span * i / std::max<std::size_t>(sorted.size() - 1, 1); };
    out << "<polyline class=\"curve\" points=\"";
    const std::size_t stride = std::max<std::size_t>(1, sorted.size() / CURVE_POINTS);
    for (std::size_t i = 0; i < sorted.size(); i += stride) out << x_of(i) << "," << plot.y_of(sorted[i]->figure) << " ";
    if (!sorted.empty()) out << x_of(sorted.size() - 1) << "," << plot.y_of(sorted.back()->figure);
    out << "\"/>";
    for (std::size_t i = 0; i < sorted.size(); ++i)
      if (verdicts.slow_in(*sorted[i], m))
        out << "<circle class=\"dot slow\" cx=\"" << x_of(i) << "\" cy=\"" << plot.y_of(sorted[i]->figure)
            << "\" r=\"3\"><title>Thread:" << sorted[i]->rank << " @" << escaped(sorted[i]->node) << ": "
            << rate(sorted[i]->figure) << "</title></circle>";
  }
  write_level(out, plot, "median", spread.median, "median of the workers: " + rate(spread.median));
  const double line = verdicts.median_line(m);
  write_level(out, plot, "threshold", line * spread.median,
              ratio_text(line) + " x the median (the nodes' median line): " + rate(line * spread.median));
  write_level(out, plot, "rank0", figures.rank0_figure, "rank 0 alone: " + rate(figures.rank0_figure));
  out << "</svg>\n";
  std::size_t failed = figures.workers.size() - spread.measured;
  out << "<p class=\"meta\">dashed: the workers' median, " << rate(spread.median) << "; dotted red: "
      << ratio_text(line) << " &times; the median, the nodes' median line; green: rank 0 alone, " << rate(figures.rank0_figure)
      << "; red: ranks of slow nodes. Range " << rate(spread.min) << " to " << rate(spread.max)
      << ", cluster total " << rate(figures.total)
      << (failed ? ", " + std::to_string(failed) + " failed (not drawn)" : "") << ".</p>\n";
}
