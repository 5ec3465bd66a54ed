#include "judging/shared_falls.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "judging/node_verdict.h"
#include "judging/robust.h"

namespace {

// How far a node in a low run fell: the median of its level over its normal
// in the measurements it is low in.
double fell_to(const NodeVerdict& node) {
  std::vector<double> deviations;
  for (int m : node.own.low_in()) deviations.push_back(node.own.deviation[m]);
  return median_of(deviations);
}

// The nodes in a low run, in runs of neighbours that fell alike.
std::vector<std::vector<NodeVerdict*>> alike_falls(Verdicts& verdicts) {
  std::vector<std::pair<double, NodeVerdict*>> fallen;
  for (NodeVerdict& node : verdicts.nodes)
    if (node.own.low_run && node.verdict != Verdict::failed) fallen.push_back({std::log(fell_to(node)), &node});
  std::sort(fallen.begin(), fallen.end(),
            [](const auto& a, const auto& b) { return a.first < b.first || (a.first == b.first && a.second < b.second); });
  std::vector<std::vector<NodeVerdict*>> runs;
  for (std::size_t i = 0; i < fallen.size(); ++i) {
    if (i == 0 || fallen[i].first - fallen[i - 1].first >= FALL_GAP) runs.emplace_back();
    runs.back().push_back(fallen[i].second);
  }
  return runs;
}

// The fall of these nodes: where most of them are low, how far, and the
// group they are all in.
SharedFall describe(const Verdicts& verdicts, const std::vector<NodeVerdict*>& nodes) {
  SharedFall fall;
  std::vector<double> fell;
  bool anywhere_known = false;
  fall.everywhere = true;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::vector<double> deviations;
    std::size_t low = 0;
    for (const NodeVerdict* node : nodes) {
      if (std::isfinite(node->own.deviation[m])) deviations.push_back(node->own.deviation[m]);
      low += node->own.low[m];
    }
    fall.deviation[m] = median_of(deviations);
    fall.in[m] = verdicts.judged[m] && 2 * low > nodes.size();
    if (fall.in[m]) fell.push_back(fall.deviation[m]);
    if (!verdicts.judged[m] || deviations.empty()) continue;
    anywhere_known = true;
    fall.everywhere = fall.everywhere && fall.in[m];
  }
  fall.everywhere = fall.everywhere && anywhere_known;
  fall.fell_to = median_of(fell);
  for (const NodeVerdict* node : nodes) fall.nodes.push_back(node->node);
  const int group = nodes.front()->group;
  if (group >= 0 && std::all_of(nodes.begin(), nodes.end(), [&](const NodeVerdict* node) { return node->group == group; })) {
    fall.group = verdicts.groups[group].group.name;
    fall.group_nodes = verdicts.groups[group].nodes.size();
  }
  return fall;
}

// The commonest cause among a fall's nodes, the most telling first on a tie.
Cause commonest_cause(const std::vector<NodeVerdict*>& nodes) {
  std::map<Cause, int> counts;
  for (const NodeVerdict* node : nodes) ++counts[node->cause.cause];
  Cause chosen = Cause::none;
  int most = 0;
  for (const auto& [cause, count] : counts)
    if (cause != Cause::none && (count > most || (count == most && chosen == Cause::unclear))) chosen = cause, most = count;
  return chosen;
}

}  // namespace

void find_shared_falls(Verdicts& verdicts) {
  verdicts.falls.clear();
  for (std::vector<NodeVerdict*>& nodes : alike_falls(verdicts)) {
    if (static_cast<int>(nodes.size()) < MIN_FALL_NODES) continue;
    for (NodeVerdict* node : nodes) {
      node->fall = static_cast<int>(verdicts.falls.size());
      node->by_own_normal = Verdict::slow;
      node->verdict = worse_of(node->by_peers, node->by_own_normal);
      node->cause = probable_cause(*node, verdicts.judged);
    }
    SharedFall fall = describe(verdicts, nodes);
    fall.cause = commonest_cause(nodes);
    verdicts.falls.push_back(std::move(fall));
  }
}
