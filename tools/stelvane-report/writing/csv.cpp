#include <algorithm>
#include <cmath>
#include <map>

#include "judging/compare.h"
#include "judging/verdict.h"
#include "writing/drain.h"
#include "writing/outputs.h"
#include "writing/units.h"
#include "writing/wording.h"

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
  std::string group;                         // the node's group, or a group row's own name
  double line = NO_FIGURE;                   // a cluster row's own line
  Cause cause = Cause::none;                 // a fall row's probable cause
};

// Whether a report judged in groups adds the group column (and the group
// rows): a report of one kind reads as before.
bool with_groups(const std::vector<JudgedRun>& runs) {
  return std::any_of(runs.begin(), runs.end(), [](const JudgedRun& run) { return !run.verdicts.groups.empty(); });
}

std::string group_of(const Verdicts& verdicts, const NodeVerdict* node) {
  return node == nullptr || node->group < 0 ? "" : verdicts.groups[node->group].group.name;
}

// A ratio at full precision; - when not compared.
std::string csv_ratio(double ratio) { return std::isnan(ratio) ? "-" : exact_text(ratio); }

// own_normal,own_line,own_low,cause: a node row's, empty elsewhere.
std::string own_fields(const CsvRow& row) {
  const NodeVerdict* node = row.judged_node;
  std::string fields = ",";
  if (row.role == "cluster") return fields.append(csv_ratio(row.line)).append(row.low ? ",yes," : ",no,");
  if (node == nullptr) return fields.append(",,").append(cause_key(row.cause));
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

void csv_row(std::ostream& out, const ResultFile& file, const CsvRow& row, bool grouped) {
  out << csv_field(file.source) << ',' << file.stamp.time_stamp << ',' << csv_field(file.stamp.time_zone) << ','
      << csv_field(file.stamp.rank0_node) << ',' << file.ranks << ',' << csv_field(row.node) << ',' << row.verdict
      << ',' << row.role << ',' << row.rank << ',' << MEASUREMENTS[row.measurement].key << ','
      << MEASUREMENTS[row.measurement].unit << ',' << exact_text(row.seconds) << ',' << exact_text(row.figure)
      << ',' << csv_ratio(row.ratio) << ',' << (row.low ? "yes" : "no") << ',' << (row.failed ? "yes" : "no")
      << ',' << (row.no_answer ? "yes" : "no") << ',' << own_fields(row);
  if (grouped) out << ',' << csv_field(row.group);
  out << "\n";
}

}  // namespace

void write_csv(std::ostream& out, const std::vector<JudgedRun>& runs) {
  const bool grouped = with_groups(runs);
  out << "file,time_stamp,time_zone,rank0_node,ranks,node,verdict,role,rank,measurement,unit,seconds,figure,"
         "ratio,low,failed,no_answer,own_normal,own_line,own_low,cause"
      << (grouped ? ",group\n" : "\n");
  for (const JudgedRun& run : runs) {
    const ResultFile& file = *run.file;
    const Verdicts& verdicts = run.verdicts;
    auto row = [&](CsvRow values) { csv_row(out, file, values, grouped); };
    // Each group's median figure, and its ratio to the largest group's.
    for (const GroupReport& group : verdicts.groups)
      for (int m = 0; m < MEASUREMENT_COUNT; ++m)
        row({"", group.apart ? "apart" : "", "group", "", m, NO_FIGURE, group.median[m], group.to_largest[m],
             false, false, false, nullptr, group.group.name});
    // The cluster against its kept runs: its change, and its line.
    if (verdicts.cluster.known_anywhere())
      for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
        CsvRow cluster{"", "", "cluster", "", m, NO_FIGURE, NO_FIGURE, verdicts.cluster.change[m],
                       verdicts.cluster.low[m], false, false, nullptr, ""};
        cluster.line = verdicts.cluster.line[m];
        row(cluster);
      }
    // Each fall that several nodes share: its nodes as a host list, how far
    // below their own normals they lie (the median node), where most fell.
    for (const SharedFall& fall : verdicts.falls)
      for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
        CsvRow fallen{host_list(fall.nodes), "slow", "fall", "", m, NO_FIGURE, NO_FIGURE, fall.deviation[m],
                      fall.in[m], false, false, nullptr, ""};
        fallen.cause = fall.cause;
        row(fallen);
      }
    // The verdicts first: one row per node and measurement, worst nodes first.
    for (const NodeVerdict& node : verdicts.nodes)
      for (int m = 0; m < MEASUREMENT_COUNT; ++m)
        row({node.node, verdict_name(node.verdict), "node", "", m, NO_FIGURE, NO_FIGURE, node.ratios[m],
             node.low[m] || node.own.low[m], node.failed[m], node.no_answer_in >= 0 && m >= node.no_answer_in, &node,
             group_of(verdicts, &node)});
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      const MeasurementFigures& figures = file.measurements[m];
      const bool rank0_failed = !std::isnan(figures.rank0_seconds) && std::isnan(figures.rank0_figure);
      const NodeVerdict* rank0_node = verdicts.of(file.stamp.rank0_node);
      row({file.stamp.rank0_node, rank0_node ? verdict_name(rank0_node->verdict) : "", "rank0", "0", m,
           figures.rank0_seconds, figures.rank0_figure, NO_FIGURE, false, rank0_failed, false, nullptr,
           group_of(verdicts, rank0_node)});
      for (const WorkerFigures& worker : figures.workers) {
        const NodeVerdict* node = verdicts.of(worker.node);
        row({worker.node, node ? verdict_name(node->verdict) : "", "worker", std::to_string(worker.rank), m,
             worker.seconds, worker.figure, NO_FIGURE, verdicts.slow_in(worker, m), std::isnan(worker.figure),
             m >= lost_from(file, worker.rank), nullptr, group_of(verdicts, node)});
      }
    }
  }
}

void write_comparison_csv(std::ostream& out, const std::vector<const ResultFile*>& runs, const RunComparison& comparison) {
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
