#include "judging/verdict.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace {

// The figures of one node in one measurement: its workers', or rank 0's own
// when no worker runs there.
struct NodeFigures {
  std::vector<double> figures;
  bool failed = false;
};

double node_figure(const NodeFigures& figures) { return figures.failed ? NO_FIGURE : median_of(figures.figures); }

// Builds the verdicts of one result file, step by step.
class NodeJudge {
 public:
  NodeJudge(const ResultFile& file, const std::vector<DeclaredGroup>* declared)
      : file_(file), declared_(declared), rank0_node_(file.stamp.rank0_node) {}

  // The fleet's ratios first, then each node against its kind.
  Verdicts judge() {
    place_ranks();
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) take_figures(m);
    note_lost_ranks();
    judge_by_kind(verdicts_, Grouping{});
    for (NodeVerdict& node : verdicts_.nodes)
      std::copy(std::begin(node.ratios), std::end(node.ratios), node.fleet_ratios);
    const Grouping grouping = grouping_of(verdicts_, declared_);
    if (!grouping.trivial(verdicts_.nodes.size())) judge_by_kind(verdicts_, grouping);
    for (NodeVerdict& node : verdicts_.nodes) {
      node.verdict = node.by_peers;
      node.cause = probable_cause(node, verdicts_.judged);
    }
    order_worst_first(verdicts_);
    return std::move(verdicts_);
  }

 private:
  NodeVerdict& entry(const std::string& name) {
    auto [at, added] = index_of_.try_emplace(name, verdicts_.nodes.size());
    if (added) {
      NodeVerdict& node = verdicts_.nodes.emplace_back();
      node.node = name;
      std::fill(std::begin(node.ratios), std::end(node.ratios), NO_FIGURE);
      std::fill(std::begin(node.figures), std::end(node.figures), NO_FIGURE);
      std::fill(std::begin(node.lines), std::end(node.lines), NO_FIGURE);
      std::fill(std::begin(node.fleet_ratios), std::end(node.fleet_ratios), NO_FIGURE);
      workers_of_[name] = 0;
    }
    return verdicts_.nodes[at->second];
  }

  // The nodes and their ranks, in the order their first rank appears; rank 0
  // on its node when the file's name says which.
  void place_ranks() {
    if (!rank0_node_.empty()) entry(rank0_node_).ranks.push_back(0);
    for (const WorkerFigures& worker : file_.measurements[0].workers) {
      NodeVerdict& node = entry(worker.node);
      node.ranks.push_back(worker.rank);
      ++node.workers;
      ++workers_of_[worker.node];
    }
    std::size_t with_figures = 0;
    for (const NodeVerdict& node : verdicts_.nodes)
      if (node.workers > 0 || node.node == rank0_node_) ++with_figures;
    verdicts_.enough_nodes = with_figures >= MIN_COMPARED_NODES;
  }

  // Each node's figures in measurement m: its workers', or rank 0's own when
  // no worker runs on rank 0's node.
  std::map<std::string, NodeFigures> figures_in(int m) const {
    const MeasurementFigures& measurement = file_.measurements[m];
    std::map<std::string, NodeFigures> figures;
    for (const WorkerFigures& worker : measurement.workers) {
      NodeFigures& node = figures[worker.node];
      if (std::isnan(worker.figure))
        node.failed = true;
      else
        node.figures.push_back(worker.figure);
    }
    if (!rank0_node_.empty() && workers_on(rank0_node_) == 0) {
      NodeFigures& node = figures[rank0_node_];
      if (std::isnan(measurement.rank0_figure))
        node.failed = !std::isnan(measurement.rank0_seconds);  // measured, and failed
      else
        node.figures.push_back(measurement.rank0_figure);
    }
    return figures;
  }

  // The median worker's seconds in measurement m, whether it is judged, and
  // each node's figure there.
  void take_figures(int m) {
    std::vector<double> seconds;
    for (const WorkerFigures& worker : file_.measurements[m].workers)
      if (!std::isnan(worker.seconds)) seconds.push_back(worker.seconds);
    verdicts_.median_seconds[m] = median_of(seconds);
    verdicts_.judged[m] = verdicts_.median_seconds[m] >= MIN_JUDGED_SECONDS;
    for (const auto& [name, figures] : figures_in(m)) {
      NodeVerdict& node = entry(name);
      node.measured[m] = true;
      node.failed[m] = figures.failed;
      node.figures[m] = node_figure(figures);
    }
  }

  // Workers placed on a node in the first measurement; a node met only later
  // (the reader refuses such files, but the judge never relies on it) has none.
  int workers_on(const std::string& name) const {
    const auto found = workers_of_.find(name);
    return found == workers_of_.end() ? 0 : found->second;
  }

  // A rank that gave no answer fails its node from that measurement on: its
  // figures there are NaN, and the node says where it stopped answering.
  void note_lost_ranks() {
    for (const LostRank& lost : file_.lost) {
      NodeVerdict& node = entry(lost.node);
      if (node.no_answer_in < 0 || lost.measurement < node.no_answer_in) node.no_answer_in = lost.measurement;
      node.failed[lost.measurement] = true;
    }
  }

  const ResultFile& file_;
  const std::vector<DeclaredGroup>* declared_;  // null: none declared
  const std::string rank0_node_;                // empty when unknown
  Verdicts verdicts_;
  std::map<std::string, std::size_t> index_of_;  // while the nodes are placed
  std::map<std::string, int> workers_of_;
};

}  // namespace

Verdicts judge_nodes(const ResultFile& file, const std::vector<DeclaredGroup>* declared) {
  return NodeJudge(file, declared).judge();
}

void hold_peer_lines_to_history(Verdicts& verdicts) {
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    const double ceiling = verdicts.peer_ceiling(m);
    if (std::isnan(ceiling)) continue;
    for (NodeVerdict& node : verdicts.nodes) {
      node.lines[m] = std::min(node.lines[m], ceiling);  // NaN stays: not compared
      node.low[m] = verdicts.judged[m] && node.ratios[m] < node.lines[m];
    }
  }
  read_peer_verdicts(verdicts);
}
