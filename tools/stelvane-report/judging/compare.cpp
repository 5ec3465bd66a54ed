#include "judging/compare.h"

#include <algorithm>
#include <cmath>
#include <map>

std::vector<std::string> RunComparison::slower() const {
  std::vector<std::string> names;
  for (const NodeChange& node : nodes)
    if (node.slower) names.push_back(node.node);
  return names;
}

RunComparison compare_runs(const ResultFile& baseline, const ResultFile& run) {
  RunComparison comparison;
  comparison.baseline = &baseline;
  comparison.run = &run;
  const Verdicts before = judge_nodes(baseline), after = judge_nodes(run);
  for (const NodeVerdict& node : before.nodes)
    if (after.of(node.node) == nullptr) comparison.only_in_baseline.push_back(node.node);
  for (const NodeVerdict& node : after.nodes) {
    const NodeVerdict* earlier = before.of(node.node);
    if (earlier == nullptr) {
      comparison.only_in_run.push_back(node.node);
      continue;
    }
    NodeChange change;
    change.node = node.node;
    change.comparable = earlier->workers == node.workers;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      change.change[m] = change.comparable ? node.figures[m] / earlier->figures[m] : NO_FIGURE;
    comparison.nodes.push_back(change);
  }
  std::sort(comparison.only_in_baseline.begin(), comparison.only_in_baseline.end());
  std::sort(comparison.only_in_run.begin(), comparison.only_in_run.end());

  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::vector<double> changes;
    for (const NodeChange& node : comparison.nodes)
      if (std::isfinite(node.change[m])) changes.push_back(node.change[m]);
    comparison.shift[m] = median_of(changes);
    comparison.judged[m] = before.judged[m] && after.judged[m] && changes.size() >= MIN_COMPARED_NODES;
    for (NodeChange& node : comparison.nodes) {
      node.relative[m] = node.change[m] / comparison.shift[m];
      node.slower_in[m] = comparison.judged[m] && node.relative[m] < SLOWER_RATIO;
    }
  }
  for (NodeChange& node : comparison.nodes)
    node.slower = std::count(std::begin(node.slower_in), std::end(node.slower_in), true) >= SLOWER_MEASUREMENTS;
  std::stable_sort(comparison.nodes.begin(), comparison.nodes.end(), [](const NodeChange& a, const NodeChange& b) {
    return a.slower != b.slower ? a.slower : a.node < b.node;
  });
  return comparison;
}

std::vector<NodeHistory> node_histories(const std::vector<const ResultFile*>& runs) {
  std::map<std::string, NodeHistory> by_node;  // ordered by name
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Verdicts verdicts = judge_nodes(*runs[i]);
    for (const NodeVerdict& node : verdicts.nodes) {
      NodeHistory& history = by_node[node.node];
      if (history.points.empty()) {
        history.node = node.node;
        history.points.resize(runs.size());
      }
      NodeHistory::Point& point = history.points[i];
      point.present = true;
      point.verdict = node.verdict;
      std::copy(std::begin(node.figures), std::end(node.figures), point.figures);
      std::copy(std::begin(node.ratios), std::end(node.ratios), point.ratios);
    }
  }
  std::vector<NodeHistory> histories;
  for (auto& [name, history] : by_node) histories.push_back(std::move(history));
  return histories;
}
