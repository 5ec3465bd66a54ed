// The groups a kept run is judged in, and the run judged again within them
// (history.h, groups.h).
#include <array>
#include <cmath>
#include <limits>

#include "judging/history.h"

namespace {

// The distance of a node's ratios in a run from a kind's median levels: the
// sum of the squared logarithms of their quotients, where both are known.
double distance_to(const RunSummary::Node& node, const std::array<double, MEASUREMENT_COUNT>& kind) {
  double distance = 0;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (node.ratios[m] > 0 && kind[m] > 0) distance += std::pow(std::log(node.ratios[m] / kind[m]), 2);
  return distance;
}

// The kinds the nodes' levels fall into; a node with no level yet (new, or
// with other workers than before) joins the kind its ratios in this run lie
// nearest.
Grouping learned_kinds(const RunSummary& run, const std::vector<NodeLevel>& levels) {
  const bool every[MEASUREMENT_COUNT] = {true, true, true, true, true, true};
  std::vector<NodeLevel> known;
  for (const NodeLevel& level : levels)
    for (double value : level.level)
      if (value > 0) {
        known.push_back(level);
        break;
      }
  Grouping grouping = kinds_of(known, every, GroupSource::learned);
  if (grouping.groups.empty()) return grouping;
  std::vector<std::vector<double>> members(grouping.groups.size() * MEASUREMENT_COUNT);
  for (const NodeLevel& level : known)
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (level.level[m] > 0) members[grouping.of(level.node) * MEASUREMENT_COUNT + m].push_back(level.level[m]);
  std::vector<std::array<double, MEASUREMENT_COUNT>> medians(grouping.groups.size());
  for (std::size_t g = 0; g < grouping.groups.size(); ++g)
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) medians[g][m] = median_of(members[g * MEASUREMENT_COUNT + m]);
  for (const RunSummary::Node& node : run.nodes) {
    if (grouping.of(node.name) >= 0) continue;
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t g = 0; g < medians.size(); ++g)
      if (distance_to(node, medians[g]) < nearest) {
        nearest = distance_to(node, medians[g]);
        grouping.group_of[node.name] = static_cast<int>(g);
      }
  }
  return grouping;
}

// A kept run as a verdict on figures: its ratios to every node stand for
// the nodes' figures, as they differ from them by one factor or two.
Verdicts as_verdicts(const RunSummary& run) {
  Verdicts verdicts;
  std::copy(std::begin(run.judged), std::end(run.judged), verdicts.judged);
  for (const RunSummary::Node& kept : run.nodes) {
    NodeVerdict& node = verdicts.nodes.emplace_back();
    node.node = kept.name;
    node.workers = kept.workers;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      node.figures[m] = node.fleet_ratios[m] = kept.ratios[m];
      node.ratios[m] = node.lines[m] = NO_FIGURE;
      node.failed[m] = kept.verdict == Verdict::failed && std::isnan(kept.ratios[m]);
      node.measured[m] = std::isfinite(kept.ratios[m]) || node.failed[m];
    }
  }
  for (std::size_t i = 0; i < verdicts.nodes.size(); ++i) verdicts.index[verdicts.nodes[i].node] = i;
  return verdicts;
}

}  // namespace

Grouping history_grouping(const RunSummary& run, const std::vector<NodeLevel>& levels,
                          const std::vector<DeclaredGroup>* declared) {
  const Verdicts verdicts = as_verdicts(run);
  if (declared != nullptr) return grouping_of(verdicts, declared);
  Grouping learned = learned_kinds(run, levels);
  if (!learned.trivial(run.nodes.size())) return learned;
  return grouping_of(verdicts, nullptr);
}

RunSummary judged_by_kind(const RunSummary& run, const Grouping& grouping) {
  if (grouping.trivial(run.nodes.size())) return run;
  Verdicts verdicts = as_verdicts(run);
  judge_by_kind(verdicts, grouping);
  RunSummary kinded = run;
  for (std::size_t i = 0; i < run.nodes.size(); ++i) {
    const NodeVerdict& node = verdicts.nodes[i];
    std::copy(std::begin(node.ratios), std::end(node.ratios), kinded.nodes[i].ratios);
    kinded.nodes[i].verdict = node.by_peers;
  }
  return kinded;
}
