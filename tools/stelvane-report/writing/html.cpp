// The HTML page, made to be read at any size from 2 to 4,096 ranks: the
// verdict first, then a node x measurement heat map with the worst nodes
// first, one chart per measurement, and the full figures folded away. No
// script and nothing loaded from elsewhere.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "judging/compare.h"
#include "judging/verdict.h"
#include "writing/html_parts.h"
#include "writing/outputs.h"
#include "writing/units.h"
#include "writing/wording.h"

namespace {

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

}  // namespace

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

namespace {

// ---- the verdict ----------------------------------------------------------------

// The groups the nodes were judged in, each against the largest.
void write_groups(std::ostream& out, const Verdicts& verdicts) {
  if (verdicts.groups.empty()) return;
  out << "<p class=\"meta\">Each node judged against the others of its group, "
      << escaped(groups_source_text(verdicts)) << ":</p>\n<ul class=\"groups\">\n";
  for (const GroupReport& group : verdicts.groups)
    out << "<li>" << escaped(group_text(verdicts, group))
        << (group.apart ? ". <b>Apart</b>, not drained: " + escaped(group_apart_text(group)) : std::string())
        << "</li>\n";
  out << "</ul>\n";
}

void write_summary(std::ostream& out, const Verdicts& verdicts, int history_runs) {
  const VerdictCounts counts(verdicts);
  out << "<p class=\"counts\">" << verdicts.nodes.size() << " nodes: ";
  for (Verdict verdict : {Verdict::slow, Verdict::suspect, Verdict::failed, Verdict::ok})
    out << "<span class=\"badge " << verdict_name(verdict) << "\">" << counts[verdict] << " "
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
    const std::string changes = cluster_changes(verdicts), fell = cluster_fall_text(verdicts);
    if (!changes.empty())
      out << "<p class=\"meta\">The cluster against its kept runs (its median node, a share of theirs): "
          << escaped(changes) << "</p>\n";
    if (!fell.empty()) out << "<p class=\"finding\"><b>" << escaped(fell) << "</b></p>\n";
  }
  for (const SharedFall& fall : verdicts.falls)
    out << "<p class=\"finding\"><b>" << escaped(shared_fall_text(fall)) << "</b></p>\n";
  const std::size_t flagged = verdicts.nodes.size() - counts[Verdict::ok];
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
        << "</td><td class=\"l\">" << escaped(verdict_finding(node)) << "</td><td class=\"l\">"
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
    if (!verdicts.judged[m]) append_listed(short_ones, MEASUREMENTS[m].key);
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
      out << "<tr class=\"slower\"><td class=\"l\">" << escaped(node.node) << "</td><td class=\"l\">"
          << relative_changes(node)
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
  write_groups(out, verdicts);
  write_rule(out, verdicts);
  out << "<h3>Every node against the others</h3>\n";
  write_heat_map(out, verdicts);
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
