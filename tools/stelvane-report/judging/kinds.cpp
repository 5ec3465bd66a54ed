// Each node against the others of its kind (groups.h).
#include <algorithm>
#include <cmath>
#include <utility>

#include "judging/kinds.h"

#include "judging/peers.h"

namespace {

void compare_within(Verdicts& verdicts, const Grouping& grouping) {
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::vector<PeerEntry> entries;
    for (const NodeVerdict& node : verdicts.nodes)
      if (!std::isnan(node.figures[m])) entries.push_back({node.figures[m], grouping.of(node.node), node.workers});
    MeasurementPeers peers(entries);
    for (NodeVerdict& node : verdicts.nodes) {
      if (!node.measured[m]) continue;
      std::tie(node.ratios[m], node.lines[m]) = peers.ratio_and_line(node.figures[m], grouping.of(node.node), node.workers);
      node.low[m] = verdicts.judged[m] && node.ratios[m] < node.lines[m];
    }
  }
}

// Each group's nodes and figures, and how it stands to the largest.
std::vector<GroupReport> reports_of(const Verdicts& verdicts, const Grouping& grouping) {
  std::vector<GroupReport> reports(grouping.groups.size());
  std::vector<std::vector<double>> figures(reports.size() * MEASUREMENT_COUNT);
  for (std::size_t g = 0; g < reports.size(); ++g) reports[g].group = grouping.groups[g];
  for (const NodeVerdict& node : verdicts.nodes) {
    if (node.group < 0) continue;
    reports[node.group].nodes.push_back(node.node);
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (std::isfinite(node.figures[m])) figures[node.group * MEASUREMENT_COUNT + m].push_back(node.figures[m]);
  }
  std::size_t largest = 0;
  for (std::size_t g = 0; g < reports.size(); ++g) {
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      const Centre centre = centre_of(figures[g * MEASUREMENT_COUNT + m]);
      reports[g].median[m] = centre.median;
      reports[g].spread[m] = centre.spread;
    }
    reports[g].too_small = static_cast<int>(reports[g].nodes.size()) < MIN_COMPARED_NODES;
    if (reports[g].nodes.size() > reports[largest].nodes.size()) largest = g;
  }
  for (GroupReport& report : reports) {
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) report.to_largest[m] = report.median[m] / reports[largest].median[m];
    report.largest = &report == &reports[largest];
    report.apart = !report.largest && report.group.source != GroupSource::declared && !report.nodes.empty();
  }
  return reports;
}

// Whether a node's figure in measurement m lies between its kind's median
// and another's (groups.h: BETWEEN_SHARE).
bool between_medians(const Verdicts& verdicts, const NodeVerdict& node, int m) {
  const GroupReport& own = verdicts.groups[node.group];
  const double away = std::log(node.figures[m] / own.median[m]);
  if (!(std::fabs(away) > LOW_SPREADS * own.spread[m])) return false;
  for (const GroupReport& other : verdicts.groups) {
    const double apart = std::log(other.median[m] / own.median[m]);
    if (&other != &own && away / apart >= BETWEEN_SHARE && away / apart < 1.0) return true;
  }
  return false;
}

// A node of a kind found in the run that lies between kinds: a slow node of
// one kind or a healthy one of the other, which one run cannot tell.
bool between_kinds(const Verdicts& verdicts, NodeVerdict& node) {
  std::fill(std::begin(node.between), std::end(node.between), false);
  if (node.group < 0 || verdicts.groups[node.group].group.source != GroupSource::seen) return false;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    node.between[m] = verdicts.judged[m] && std::isfinite(node.figures[m]) && between_medians(verdicts, node, m);
  return static_cast<int>(measurements_where(node.between).size()) >= SLOW_MEASUREMENTS;
}

}  // namespace

Verdict peer_verdict(const NodeVerdict& node) {
  const std::size_t lows = node.low_in().size();
  if (!node.failed_in().empty()) return Verdict::failed;
  if (lows >= SLOW_MEASUREMENTS) return Verdict::slow;
  return lows == 1 ? Verdict::suspect : Verdict::ok;
}

Grouping grouping_of(const Verdicts& verdicts, const std::vector<DeclaredGroup>* declared) {
  if (declared != nullptr) {
    std::vector<std::string> names;
    for (const NodeVerdict& node : verdicts.nodes) names.push_back(node.node);
    return declared_grouping(*declared, names);
  }
  std::vector<NodeLevel> levels;
  for (const NodeVerdict& node : verdicts.nodes) {
    NodeLevel& level = levels.emplace_back();
    level.node = node.node;
    std::copy(std::begin(node.figures), std::end(node.figures), level.level);
  }
  return kinds_of(levels, verdicts.judged, GroupSource::seen);
}

void judge_by_kind(Verdicts& verdicts, const Grouping& grouping) {
  const bool grouped = !grouping.trivial(verdicts.nodes.size());
  for (NodeVerdict& node : verdicts.nodes) node.group = grouped ? grouping.of(node.node) : -1;
  compare_within(verdicts, grouped ? grouping : Grouping{});
  verdicts.groups = grouped ? reports_of(verdicts, grouping) : std::vector<GroupReport>{};
  read_peer_verdicts(verdicts);
}

void read_peer_verdicts(Verdicts& verdicts) {
  for (NodeVerdict& node : verdicts.nodes) {
    node.by_peers = peer_verdict(node);
    node.between_kinds = node.by_peers != Verdict::failed && between_kinds(verdicts, node);
    if (node.between_kinds) node.by_peers = Verdict::suspect;
  }
}
