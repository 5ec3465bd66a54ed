#include <cmath>
#include <cstdio>

#include "judging/compare.h"
#include "judging/verdict.h"
#include "writing/drain.h"
#include "writing/outputs.h"
#include "writing/units.h"
#include "writing/wording.h"

namespace {

std::string run_line(const ResultFile& file, std::size_t node_count) {
  std::string line = file.source + ": " + std::to_string(file.ranks) + (file.ranks == 1 ? " rank" : " ranks") +
                     " on " + std::to_string(node_count) + (node_count == 1 ? " node" : " nodes");
  if (!file.stamp.time_stamp.empty())
    line += ", started " + printable(file.stamp.time_stamp + " " + file.stamp.time_zone) + ", rank 0 on " +
            printable(file.stamp.rank0_node);
  return line + (file.complete ? "" : ", TRUNCATED: " + file.truncation);
}

void write_lowered_peer_lines(std::ostream& out, const Verdicts& verdicts) {
  const std::string lowered = lowered_peer_lines(verdicts);
  if (!lowered.empty()) out << "  Peer line at most, as far as the nodes stray from run to run: " << lowered << "\n";
}

// The cluster against its kept runs, and where it fell as a whole.
void write_cluster_change(std::ostream& out, const Verdicts& verdicts) {
  const std::string changes = cluster_changes(verdicts);
  if (changes.empty()) return;
  out << "  The cluster against its kept runs (its median node, a share of theirs): " << changes << "\n";
  const std::string fell = cluster_fall_text(verdicts);
  if (!fell.empty()) out << "  " << fell << "\n";
}

// The groups the nodes were judged in, and each group apart.
void write_groups(std::ostream& out, const Verdicts& verdicts) {
  if (verdicts.groups.empty()) return;
  const GroupSource source = verdicts.groups.front().group.source;
  out << "  Judged within groups, " << groups_source_text(verdicts)
      << (source == GroupSource::declared ? " (a node in none against every node):\n" : ":\n");
  for (const GroupReport& group : verdicts.groups)
    out << "    " << group_text(verdicts, group) << "\n";
  for (const GroupReport& group : verdicts.groups)
    if (group.apart) out << "  Group apart, not drained: " << group_apart_text(group) << "\n";
}

void write_verdict_text(std::ostream& out, const Verdicts& verdicts, int history_runs) {
  const VerdictCounts counts(verdicts);
  out << "  Nodes: " << counts[Verdict::slow] << " slow, " << counts[Verdict::suspect] << " suspect, "
      << counts[Verdict::failed] << " failed, " << counts[Verdict::ok] << " ok\n";
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
    write_cluster_change(out, verdicts);
  }
  for (const SharedFall& fall : verdicts.falls) out << "  " << shared_fall_text(fall) << "\n";
  write_groups(out, verdicts);
  const std::string to_drain = drain_host_list(verdicts);
  if (!to_drain.empty()) out << "  To drain (slow and failed): " << to_drain << "\n";
  if (!verdicts.enough_nodes) {
    out << "  Too few nodes to compare (fewer than " << MIN_COMPARED_NODES << "): no node is judged slow.\n";
    return;
  }
  std::string judged, short_ones;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::string& list = verdicts.judged[m] ? judged : short_ones;
    append_listed(list, MEASUREMENTS[m].key);
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
        if (std::isnan(worker.figure)) append_listed(failed, worker_label(worker));
      if (!failed.empty()) out << "    failed: " << failed << "\n";
    }
  }
}

void write_comparison_text(std::ostream& out, const std::vector<const ResultFile*>& runs, const RunComparison& comparison) {
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
