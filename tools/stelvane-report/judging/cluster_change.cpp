#include "judging/cluster_change.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "judging/own_normal.h"
#include "judging/node_verdict.h"
#include "judging/robust.h"

ClusterChange::ClusterChange() {
  for (double* values : {change, spread, line})
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) values[m] = NAN;
}

bool ClusterChange::known(int m) const {
  return nodes[m] > 0 && runs[m] >= MIN_HISTORY_RUNS && std::isfinite(change[m]);
}

bool ClusterChange::known_anywhere() const {
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (known(m)) return true;
  return false;
}

bool ClusterChange::low_everywhere(const bool judged[MEASUREMENT_COUNT]) const {
  bool any = false;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    if (!judged[m] || !known(m)) continue;
    if (!low[m]) return false;
    any = true;
  }
  return any;
}

double ClusterChange::median_low() const {
  std::vector<double> changes;
  for (int m : low_in()) changes.push_back(change[m]);
  return median_of(changes);
}

namespace {

// The workers on most of a run's nodes.
int typical_workers(const RunSummary& run) {
  std::map<int, int> nodes_with;
  for (const RunSummary::Node& node : run.nodes) ++nodes_with[node.workers];
  int typical = 0, most = 0;
  for (const auto& [workers, count] : nodes_with)
    if (count > most) typical = workers, most = count;
  return typical;
}

// The median of a run's node figures in measurement m.
double median_figure(const RunSummary& run, int m) {
  std::vector<double> figures;
  for (const RunSummary::Node& node : run.nodes)
    if (std::isfinite(node.figures[m])) figures.push_back(node.figures[m]);
  return median_of(figures);
}

}  // namespace

RunSummary against_unchanged(const RunSummary& run, const std::vector<OwnNormal>& normals) {
  RunSummary levels = run;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::vector<double> kept;  // their changes
    std::size_t with_normal = 0;
    for (const OwnNormal& own : normals) {
      if (!std::isfinite(own.change[m])) continue;  // no normal there, or no figure
      ++with_normal;
      if (std::fabs(own.change[m] - 1.0) <= OWN_LOW_SPREADS * own.spread[m]) kept.push_back(own.change[m]);
    }
    const bool enough = kept.size() >= static_cast<std::size_t>(MIN_COMPARED_NODES) && 4 * kept.size() >= with_normal;
    if (kept.size() == with_normal || !enough) continue;
    // Each node at its normal times its change over theirs: whatever kinds
    // they are of, a node that changed as they did is at its normal.
    const double common = median_of(kept);
    for (std::size_t i = 0; i < run.nodes.size(); ++i)
      if (std::isfinite(normals[i].change[m]))
        levels.nodes[i].ratios[m] = normals[i].normal[m] * normals[i].change[m] / common;
  }
  return levels;
}

ClusterChange cluster_change(const std::vector<OwnNormal>& normals, const RunSummary& run,
                             const std::vector<const RunSummary*>& earlier) {
  ClusterChange found;
  const int workers = typical_workers(run);
  std::vector<int> same_shape;  // indices into earlier, newest first
  for (int k = static_cast<int>(earlier.size()) - 1; k >= 0; --k)
    if (typical_workers(*earlier[k]) == workers) same_shape.push_back(k);
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::vector<double> medians, of_nodes;
    for (int k : same_shape)
      if (earlier[k]->judged[m] && medians.size() < HISTORY_WINDOW) medians.push_back(median_figure(*earlier[k], m));
    for (const OwnNormal& own : normals)
      if (std::isfinite(own.change[m])) of_nodes.push_back(own.change[m]);
    found.runs[m] = static_cast<int>(medians.size());
    found.nodes[m] = static_cast<int>(of_nodes.size());
    if (found.runs[m] < MIN_HISTORY_RUNS || of_nodes.empty()) continue;
    const Centre centre = centre_of(medians);
    found.change[m] = median_of(of_nodes);
    found.spread[m] = std::max(OWN_SPREAD_FLOOR, std::isnan(centre.spread) ? 0.0 : centre.spread);
    found.line[m] = 1.0 - OWN_LOW_SPREADS * found.spread[m];
    // Common to every node: most nodes lie under the line, not a fall of
    // half of them that moved the median node.
    const auto below = std::count_if(of_nodes.begin(), of_nodes.end(), [&](double c) { return c < found.line[m]; });
    found.low[m] = run.judged[m] && found.change[m] < found.line[m] &&
                   static_cast<double>(below) >= COMMON_SHARE * static_cast<double>(of_nodes.size());
  }
  return found;
}
