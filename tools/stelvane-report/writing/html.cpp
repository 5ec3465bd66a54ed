// The HTML page, made to be read at any size from 2 to 4,096 ranks: the
// verdict first, then a node x measurement heat map with the worst nodes
// first, one chart per measurement, and the full figures folded away. No
// script and nothing loaded from elsewhere.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "judging/compare.h"
#include "judging/verdict.h"
#include "writing/outputs.h"
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
// Rows of the verdict table before the rest is left to the heat map.
constexpr std::size_t VERDICT_ROWS = 200;

const char* const STYLE = R"(
body { font-family: sans-serif; margin: 1.5em 2em; color: #222; max-width: 1400px; }
h1 { font-size: 1.4em; } h2 { font-size: 1.2em; margin-top: 1.5em; } h3 { font-size: 1em; margin: 1.2em 0 0.3em; }
p.meta { color: #555; margin-top: 0; }
table { border-collapse: collapse; font-size: 0.85em; }
td, th { border: 1px solid #ccc; padding: 2px 8px; text-align: right; } td.l, th.l { text-align: left; }
tr.slow td.v, .badge.slow { background: #d62728; color: #fff; } tr.suspect td.v, .badge.suspect { background: #ff9f40; }
tr.failed td.v, .badge.failed { background: #777; color: #fff; } .badge.ok { background: #cfe8cf; }
.badge { padding: 1px 6px; border-radius: 3px; font-weight: bold; }
.counts { font-size: 1.1em; }
.h0 { background: #8b0000; } .h1 { background: #d62728; } .h2 { background: #ff9f40; } .h3 { background: #ffe08a; }
.h4 { background: #e4efe4; } .h5 { background: #9cc3e6; } .hf { background: #555; } .hn { background: #fff; }
td.h0, td.h1, td.hf { color: #fff; } .u { opacity: 0.35; }
table.heat td { min-width: 4em; }
.hm { display: grid; grid-auto-flow: column; grid-template-rows: repeat(var(--rows), 3px); gap: 1px 5px;
      justify-content: start; margin: 0.5em 0; }
.hm b { display: flex; } .hm i { display: block; width: var(--cell); height: 3px; }
.key span { display: inline-block; width: 14px; height: 10px; margin: 0 3px 0 10px; vertical-align: middle;
            border: 1px solid #ccc; }
svg.chart { display: block; margin: 0.3em 0; } .axis { stroke: #444; } .grid { stroke: #e6e6e6; }
.tick { font-size: 10px; fill: #444; } .curve { fill: none; stroke: #4a7fb5; stroke-width: 1.5; }
.bar { fill: #4a7fb5; } .bar.slow, .dot.slow { fill: #d62728; } .bar.failed { fill: #bbb; }
.median { stroke: #333; stroke-dasharray: 5 3; } .rank0 { stroke: #2ca02c; stroke-width: 2; }
.threshold { stroke: #d62728; stroke-dasharray: 2 3; } .normal { stroke: #999; }
svg.trend { vertical-align: middle; background: #fafafa; }
details { margin: 1em 0; } summary { cursor: pointer; color: #245; } table.verdicts { margin-bottom: 0.6em; }
)";

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A step of 1, 2 or 5 times a power of ten that cuts [0, top] into 4 to 10.
double tick_step(double top) {
  const double rough = top / 5;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double factor : {1.0, 2.0, 5.0, 10.0})
    if (factor * power >= rough) return factor * power;
  return 10 * power;
}

const char* heat_class(double ratio, bool failed) {
  if (failed) return "hf";
  if (std::isnan(ratio)) return "hn";
  if (ratio < 0.25) return "h0";
  if (ratio < LOW_RATIO_FLOOR) return "h1";
  if (ratio < 0.75) return "h2";
  if (ratio < 0.9) return "h3";
  if (ratio < 1.1) return "h4";
  return "h5";
}

void write_heat_key(std::ostream& out) {
  out << "<p class=\"key\">figure / the other nodes' median:"
         "<span class=\"h0\"></span>under 0.25<span class=\"h1\"></span>under "
      << figure_text(LOW_RATIO_FLOOR)
      << " (always low)<span class=\"h2\"></span>under 0.75<span class=\"h3\"></span>under 0.9"
         "<span class=\"h4\"></span>0.9 to 1.1<span class=\"h5\"></span>above 1.1"
         "<span class=\"hf\"></span>failed<span class=\"hn\"></span>not compared. Faded columns: measurements "
         "too short to judge.</p>\n";
}

std::string cell_title(const NodeVerdict& node, int m) {
  return escaped(node.node) + " " + MEASUREMENTS[m].key + " " +
         (node.failed[m] ? std::string("failed")
                         : ratio_text(node.ratios[m]) + ", line " + ratio_text(node.lines[m]) + (node.low[m] ? ", low" : ""));
}

// ---- the verdict ----------------------------------------------------------------

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

// A small trend of a node's ratio in the measurement it lies furthest below
// its normal in: its earlier runs, then this one (a dot), its own normal
// (grey) and its own line (dashed).
void write_trend(std::ostream& out, const NodeVerdict& node, const bool judged[MEASUREMENT_COUNT]) {
  const int m = furthest_below(node, judged);
  if (m < 0 || node.own.earlier.empty() || node.verdict == Verdict::failed) return;
  std::vector<double> ratios;
  for (const std::vector<double>& run : node.own.earlier) ratios.push_back(run[m]);
  ratios.push_back(node.ratios[m]);
  double low = node.ratios[m], high = node.ratios[m];
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
  std::snprintf(number, sizeof number, "%.1f\" cy=\"%.1f", (ratios.size() - 1) * step, y(node.ratios[m]));
  out << "\"/><circle class=\"dot slow\" r=\"2.5\" cx=\"" << number << "\"/></svg> " << MEASUREMENTS[m].key;
}

void write_summary(std::ostream& out, const Verdicts& verdicts, int history_runs) {
  std::size_t counts[4] = {};
  for (const NodeVerdict& node : verdicts.nodes) ++counts[static_cast<int>(node.verdict)];
  out << "<p class=\"counts\">" << verdicts.nodes.size() << " nodes: ";
  for (Verdict verdict : {Verdict::slow, Verdict::suspect, Verdict::failed, Verdict::ok})
    out << "<span class=\"badge " << verdict_name(verdict) << "\">" << counts[static_cast<int>(verdict)] << " "
        << verdict_name(verdict) << "</span> ";
  out << "</p>\n";
  if (!verdicts.enough_nodes)
    out << "<p>Fewer than " << MIN_COMPARED_NODES << " nodes: too few to compare, no node is judged slow.</p>\n";
  if (history_runs >= 0) {
    const std::size_t own = verdicts.held_against_own_normal();
    out << "<p class=\"meta\">Held against their own normal from " << history_runs << " earlier runs: " << own
        << " of " << verdicts.nodes.size() << " nodes" << (own < verdicts.nodes.size() ? "; the others by their peers alone" : "")
        << ". A node is slow against its own normal when below its own line (" << figure_text(OWN_LOW_SPREADS)
        << " of its own spreads below its normal) now and, of its last " << RECENT_RUNS << " runs, in at least "
        << LOW_RUNS_TO_SLOW << " in one same measurement or in " << SLOW_MEASUREMENTS
        << " measurements at once.</p>\n";
  }
  const std::size_t flagged = verdicts.nodes.size() - counts[static_cast<int>(Verdict::ok)];
  if (flagged == 0) {
    out << "<p>No node is slow, suspect or failed.</p>\n";
    return;
  }
  out << "<table class=\"verdicts\"><tr><th class=\"l\">verdict</th><th class=\"l\">node</th><th class=\"l\">ranks</th>"
         "<th class=\"l\">why</th><th class=\"l\">probable cause</th><th class=\"l\">trend</th></tr>\n";
  std::size_t shown = 0;
  for (const NodeVerdict& node : verdicts.nodes) {
    if (node.verdict == Verdict::ok || shown == VERDICT_ROWS) continue;
    ++shown;
    out << "<tr class=\"verdict " << verdict_name(node.verdict) << "\"><td class=\"l v\">" << verdict_name(node.verdict)
        << "</td><td class=\"l\">" << escaped(node.node) << "</td><td class=\"l\">" << ranks_text(node.ranks)
        << "</td><td class=\"l\">" << escaped(verdict_detail(node)) << "</td><td class=\"l\">"
        << escaped(cause_text(node.cause)) << "</td><td class=\"l\">";
    write_trend(out, node, verdicts.judged);
    out << "</td></tr>\n";
  }
  out << "</table>\n";
  if (flagged > shown) out << "<p>and " << flagged - shown << " more: see the heat map.</p>\n";
}

void write_rule(std::ostream& out, const Verdicts& verdicts) {
  std::string short_ones;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (!verdicts.judged[m]) short_ones += (short_ones.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key);
  out << "<p class=\"meta\">A node is <b>low</b> in a measurement when its figure over the median of the other "
         "nodes (with as many workers) is below its line: " << figure_text(LOW_SPREADS)
      << " robust standard deviations below 1, from how closely the other nodes agree, within "
      << figure_text(LOW_RATIO_FLOOR)
      << " and " << figure_text(LOW_RATIO_CEILING) << ". <b>slow</b>: low in at least " << SLOW_MEASUREMENTS
      << " measurements, <b>suspect</b> in one, <b>failed</b> when one of its measurements failed."
      << (short_ones.empty() ? "" : " Left out, shorter than " + figure_text(MIN_JUDGED_SECONDS) + " s: " + short_ones + ".");
  const std::string lowered = lowered_peer_lines(verdicts);
  if (!lowered.empty())
    out << " The peer line at most, as far as the nodes stray from run to run in their earlier runs: " << lowered << ".";
  out << "</p>\n";
}

// ---- the heat map ---------------------------------------------------------------

void write_labelled_heat_map(std::ostream& out, const Verdicts& verdicts) {
  out << "<table class=\"heat\"><tr><th class=\"l\">node</th>";
  for (const MeasurementInfo& info : MEASUREMENTS) out << "<th>" << info.key << "</th>";
  out << "</tr>\n";
  for (const NodeVerdict& node : verdicts.nodes) {
    out << "<tr><td class=\"l\">" << escaped(node.node) << "</td>";
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      out << "<td class=\"hc " << heat_class(node.ratios[m], node.failed[m]) << (verdicts.judged[m] ? "" : " u")
          << "\" title=\"" << cell_title(node, m) << "\">" << (node.failed[m] ? "failed" : ratio_text(node.ratios[m]))
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
      out << "<i class=\"hc " << heat_class(node.ratios[m], node.failed[m]) << (verdicts.judged[m] ? "" : " u")
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

// ---- the full figures, folded ---------------------------------------------------------

void write_all_figures(std::ostream& out, const ResultFile& file, const Verdicts& verdicts) {
  out << "<details><summary>All figures of the " << file.ranks << " ranks</summary>\n<table class=\"all\"><tr>"
         "<th>rank</th><th class=\"l\">node</th><th class=\"l\">verdict</th>";
  for (const MeasurementInfo& info : MEASUREMENTS) out << "<th>" << info.key << " (" << info.unit << ")</th>";
  out << "</tr>\n<tr><td>0</td><td class=\"l\">" << escaped(file.stamp.rank0_node) << " (alone)</td><td></td>";
  for (const MeasurementFigures& m : file.measurements) out << "<td>" << figure_text(m.rank0_figure) << "</td>";
  out << "</tr>\n";
  const std::vector<WorkerFigures>& workers = file.measurements[0].workers;
  for (std::size_t i = 0; i < workers.size(); ++i) {
    const NodeVerdict* node = verdicts.of(workers[i].node);
    // Short rows: thousands of them.
    out << "<tr><td>" << workers[i].rank << "<td class=\"l\">" << escaped(workers[i].node) << "<td class=\"l\">"
        << (node ? verdict_name(node->verdict) : "");
    for (const MeasurementFigures& m : file.measurements)
      out << "<td>" << (i < m.workers.size() ? figure_text(m.workers[i].figure) : "");
    out << "\n";
  }
  out << "</table></details>\n";
}

// ---- the comparison with an earlier run -------------------------------------------------

void write_comparison(std::ostream& out, const RunComparison& comparison) {
  out << "<section class=\"comparison\"><h2>Since " << escaped(run_label(*comparison.baseline)) << ": "
      << escaped(run_label(*comparison.run)) << "</h2>\n<p class=\"meta\">A node got <b>slower</b> when its figure changed "
      << "by less than " << figure_text(SLOWER_RATIO) << " &times; the cluster's own change in at least "
      << SLOWER_MEASUREMENTS << " measurements. The cluster's change (the median of the nodes'):";
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    out << " " << MEASUREMENTS[m].key << " &times;" << ratio_text(comparison.shift[m])
        << (comparison.judged[m] ? "" : " (not judged)");
  out << ".</p>\n";
  const std::vector<std::string> slower = comparison.slower();
  if (slower.empty()) {
    out << "<p>No node got slower than the cluster.</p>\n";
  } else {
    out << "<table class=\"slower\"><tr><th class=\"l\">node</th><th class=\"l\">slower in (change / cluster's)</th></tr>\n";
    for (const NodeChange& node : comparison.nodes) {
      if (!node.slower) continue;
      std::string detail;
      for (int m = 0; m < MEASUREMENT_COUNT; ++m)
        if (node.slower_in[m]) detail += (detail.empty() ? "" : ", ") + std::string(MEASUREMENTS[m].key) + " " +
                                         ratio_text(node.relative[m]);
      out << "<tr class=\"slower\"><td class=\"l\">" << escaped(node.node) << "</td><td class=\"l\">" << detail
          << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  for (const auto& [label, names] : {std::pair{"Only in the earlier run", &comparison.only_in_baseline},
                                     std::pair{"Only in the later run", &comparison.only_in_run}}) {
    if (names->empty()) continue;
    out << "<p>" << label << " (" << names->size() << "): ";
    for (std::size_t i = 0; i < names->size(); ++i) out << (i ? ", " : "") << escaped((*names)[i]);
    out << "</p>\n";
  }
  out << "<details><summary>Every node's change, relative to the cluster's</summary>\n<table><tr><th class=\"l\">node</th>";
  for (const MeasurementInfo& info : MEASUREMENTS) out << "<th>" << info.key << "</th>";
  out << "</tr>\n";
  for (const NodeChange& node : comparison.nodes) {
    out << "<tr><td class=\"l\">" << escaped(node.node);
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      out << "<td class=\"" << heat_class(node.relative[m], false) << "\">" << ratio_text(node.relative[m]);
    out << "\n";
  }
  out << "</table></details></section>\n";
}

void write_file(std::ostream& out, const JudgedRun& run) {
  const ResultFile& file = *run.file;
  const Verdicts& verdicts = run.verdicts;
  out << "<section class=\"file\"><h2>" << escaped(file.source) << "</h2>\n<p class=\"meta\">" << file.ranks
      << (file.ranks == 1 ? " rank" : " ranks") << " on " << verdicts.nodes.size() << " nodes";
  if (!file.stamp.time_stamp.empty())
    out << ", started " << escaped(file.stamp.time_stamp) << " " << escaped(file.stamp.time_zone) << ", rank 0 on "
        << escaped(file.stamp.rank0_node);
  out << "</p>\n";
  if (!file.complete) out << "<p class=\"truncated\">Truncated: " << escaped(file.truncation) << "</p>\n";
  write_summary(out, verdicts, run.history_runs);
  write_rule(out, verdicts);
  out << "<h3>Every node against the others</h3>\n";
  write_heat_key(out);
  if (verdicts.nodes.size() <= LABELLED_HEAT_MAP_LIMIT)
    write_labelled_heat_map(out, verdicts);
  else
    write_compact_heat_map(out, verdicts);
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    out << "<div class=\"measurement\" id=\"" << MEASUREMENTS[m].key << "\"><h3>" << MEASUREMENTS[m].title
        << "</h3>\n";
    if (file.measurements[m].workers.empty())
      out << "<p class=\"meta\">rank 0 alone: " << rate_text(file.measurements[m].rank0_figure, MEASUREMENTS[m].unit)
          << "</p>\n";
    else
      write_chart(out, m, file.measurements[m], verdicts);
    out << "</div>\n";
  }
  write_all_figures(out, file, verdicts);
  out << "</section>\n";
}

}  // namespace

void write_html(std::ostream& out, const std::vector<JudgedRun>& runs, const RunComparison* comparison) {
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>stelvane-mpi results</title>\n<style>"
      << STYLE << "</style></head>\n<body>\n<h1>stelvane-mpi results</h1>\n";
  if (comparison != nullptr) {
    write_comparison(out, *comparison);
    for (const JudgedRun& run : runs)
      if (run.file == comparison->run) write_file(out, run);
  } else {
    for (const JudgedRun& run : runs) write_file(out, run);
  }
  out << "</body></html>\n";
}
