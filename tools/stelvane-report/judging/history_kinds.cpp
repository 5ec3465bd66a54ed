// The groups a kept run is judged in, and the run judged again within them
// (history.h, groups.h).
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>

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

// Whether the kept runs know the node: it has a level somewhere.
bool has_level(const NodeLevel& level) {
  return std::any_of(std::begin(level.level), std::end(level.level), [](double value) { return value > 0; });
}

// The levels of the nodes the kept runs know.
std::vector<NodeLevel> known_levels(const std::vector<NodeLevel>& levels) {
  std::vector<NodeLevel> known;
  std::copy_if(levels.begin(), levels.end(), std::back_inserter(known), has_level);
  return known;
}

// The kinds the known nodes' levels fall into: one kind, "kind 1", when
// they do not split.
Grouping learned_kinds(const std::vector<NodeLevel>& known) {
  const bool every[MEASUREMENT_COUNT] = {true, true, true, true, true, true};
  Grouping grouping = kinds_of(known, every, GroupSource::learned);
  if (grouping.groups.empty()) {
    grouping.groups.push_back({"kind 1", GroupSource::learned});
    for (const NodeLevel& level : known) grouping.group_of[level.node] = 0;
  }
  return grouping;
}

// A new node (no level yet) joins the learned kind its ratios in this run
// lie nearest.
void join_nearest(const RunSummary::Node& node, const std::vector<NodeLevel>& known, Grouping& grouping) {
  std::vector<std::vector<double>> members(grouping.groups.size() * MEASUREMENT_COUNT);
  for (const NodeLevel& level : known)
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (level.level[m] > 0) members[grouping.of(level.node) * MEASUREMENT_COUNT + m].push_back(level.level[m]);
  double nearest = std::numeric_limits<double>::infinity();
  for (std::size_t g = 0; g < grouping.groups.size(); ++g) {
    std::array<double, MEASUREMENT_COUNT> median;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) median[m] = median_of(members[g * MEASUREMENT_COUNT + m]);
    if (distance_to(node, median) < nearest) {
      nearest = distance_to(node, median);
      grouping.group_of[node.name] = static_cast<int>(g);
    }
  }
}

// Places the nodes the kept runs do not know yet by the kinds seen in this
// run: a new node of a seen kind made mostly of known nodes joins the
// learned kind most of them are in; the new nodes of a seen kind made
// mostly of new ones are a group of their own, judged among themselves (a
// known node or two that lie with them, slowed or between kinds, do not
// make them known). Seen kinds never move a known node.
void place_new_nodes(const RunSummary& run, const Verdicts& verdicts, const std::vector<NodeLevel>& known,
                     Grouping& grouping) {
  const Grouping seen = grouping_of(verdicts, nullptr);
  std::vector<std::vector<int>> known_in(seen.groups.size(), std::vector<int>(grouping.groups.size(), 0));
  std::vector<int> members(seen.groups.size(), 0), known_members(seen.groups.size(), 0);
  for (const NodeLevel& level : known)
    if (seen.of(level.node) >= 0) {
      ++known_in[seen.of(level.node)][grouping.of(level.node)];
      ++known_members[seen.of(level.node)];
    }
  for (const RunSummary::Node& node : run.nodes)
    if (seen.of(node.name) >= 0) ++members[seen.of(node.name)];
  std::vector<int> new_group(seen.groups.size(), -1);
  int new_kinds = 0;
  for (const RunSummary::Node& node : run.nodes) {
    if (grouping.of(node.name) >= 0) continue;
    const int kind = seen.of(node.name);
    if (kind < 0) {
      join_nearest(node, known, grouping);
      continue;
    }
    const std::vector<int>& counts = known_in[kind];
    const auto most = std::max_element(counts.begin(), counts.end());
    if (2 * known_members[kind] >= members[kind]) {
      grouping.group_of[node.name] = static_cast<int>(most - counts.begin());
      continue;
    }
    if (new_group[kind] < 0) {
      new_group[kind] = static_cast<int>(grouping.groups.size());
      grouping.groups.push_back({"new kind " + std::to_string(++new_kinds), GroupSource::seen});
    }
    grouping.group_of[node.name] = new_group[kind];
  }
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
  const std::vector<NodeLevel> known = known_levels(levels);
  // A first run: nothing kept says which nodes are alike.
  if (known.empty()) return grouping_of(verdicts, nullptr);
  Grouping grouping = learned_kinds(known);
  if (known.size() < run.nodes.size()) place_new_nodes(run, verdicts, known, grouping);
  return grouping;
}

RunSummary against_reference(const RunSummary& run, const Grouping& grouping, const std::vector<NodeLevel>& levels) {
  std::vector<bool> known(run.nodes.size()), in_first(run.nodes.size());
  bool any_known = false, any_figures = false;
  for (std::size_t i = 0; i < run.nodes.size(); ++i) {
    known[i] = has_level(levels[i]);
    in_first[i] = grouping.groups.empty() || grouping.of(run.nodes[i].name) == 0;
    any_known = any_known || (known[i] && in_first[i]);
    const double* figures = run.nodes[i].figures;
    any_figures = any_figures || std::any_of(figures, figures + MEASUREMENT_COUNT, [](double f) { return std::isfinite(f); });
  }
  if (!any_figures) return run;  // kept without figures: its ratios stand
  RunSummary relative = run;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::map<int, std::vector<double>> by_workers;
    std::vector<double> all;
    for (std::size_t i = 0; i < run.nodes.size(); ++i) {
      const double figure = run.nodes[i].figures[m];
      if (!in_first[i] || (any_known && !known[i]) || !std::isfinite(figure)) continue;
      by_workers[run.nodes[i].workers].push_back(figure);
      all.push_back(figure);
    }
    std::map<int, double> median_of_alike;
    for (const auto& [workers, figures] : by_workers)
      if (figures.size() >= 2) median_of_alike[workers] = median_of(figures);
    const double median = median_of(all);
    for (RunSummary::Node& node : relative.nodes) {
      const auto alike = median_of_alike.find(node.workers);
      node.ratios[m] = node.figures[m] / (alike != median_of_alike.end() ? alike->second : median);
    }
  }
  return relative;
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
