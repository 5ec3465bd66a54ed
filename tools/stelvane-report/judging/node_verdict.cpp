#include "judging/node_verdict.h"

#include <algorithm>
#include <cmath>

WorkerSpread spread_of(const MeasurementFigures& measurement) {
  std::vector<double> figures;
  for (const WorkerFigures& worker : measurement.workers)
    if (!std::isnan(worker.figure)) figures.push_back(worker.figure);
  WorkerSpread spread;
  spread.measured = figures.size();
  if (figures.empty()) return spread;
  spread.median = median_of(figures);
  spread.min = *std::min_element(figures.begin(), figures.end());
  spread.max = *std::max_element(figures.begin(), figures.end());
  return spread;
}

namespace {

int severity(Verdict verdict) {
  switch (verdict) {
    case Verdict::failed: return 0;
    case Verdict::slow: return 1;
    case Verdict::suspect: return 2;
    case Verdict::ok: return 3;
  }
  return 3;
}

}  // namespace

Verdict worse_of(Verdict a, Verdict b) { return severity(a) <= severity(b) ? a : b; }

const char* verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::ok: return "ok";
    case Verdict::suspect: return "suspect";
    case Verdict::slow: return "slow";
    case Verdict::failed: return "failed";
  }
  return "ok";
}

VerdictCounts::VerdictCounts(const Verdicts& verdicts) {
  for (const NodeVerdict& node : verdicts.nodes) ++counts_[static_cast<int>(node.verdict)];
}

double NodeVerdict::worst_ratio(const bool judged[MEASUREMENT_COUNT]) const {
  double worst = NO_FIGURE;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (judged[m] && !std::isnan(ratios[m]) && !(ratios[m] >= worst)) worst = ratios[m];
  return worst;
}

const NodeVerdict* Verdicts::of(const std::string& node) const {
  const auto found = index.find(node);
  return found == index.end() ? nullptr : &nodes[found->second];
}

std::size_t Verdicts::held_against_own_normal() const {
  return std::count_if(nodes.begin(), nodes.end(), [](const NodeVerdict& node) { return node.own.known_anywhere(); });
}

bool Verdicts::slow_in(const WorkerFigures& worker, int m) const {
  const NodeVerdict* node = of(worker.node);
  return node != nullptr && node->verdict == Verdict::slow && (node->low[m] || node->own.low[m]);
}

std::vector<std::string> Verdicts::named(Verdict verdict) const {
  std::vector<std::string> names;
  for (const NodeVerdict& node : nodes)
    if (node.verdict == verdict) names.push_back(node.node);
  return names;
}

double Verdicts::peer_ceiling(int m) const { return std::exp(-OWN_LOW_SPREADS * run_to_run[m]); }

double Verdicts::median_line(int m) const {
  std::vector<double> lines;
  for (const NodeVerdict& node : nodes)
    if (!std::isnan(node.lines[m])) lines.push_back(node.lines[m]);
  return median_of(lines);
}

void order_worst_first(Verdicts& verdicts) {
  const bool* judged = verdicts.judged;
  std::stable_sort(verdicts.nodes.begin(), verdicts.nodes.end(), [&](const NodeVerdict& a, const NodeVerdict& b) {
    if (severity(a.verdict) != severity(b.verdict)) return severity(a.verdict) < severity(b.verdict);
    const double wa = a.worst_ratio(judged), wb = b.worst_ratio(judged);
    if (std::isnan(wa) != std::isnan(wb)) return std::isnan(wb);
    return wa < wb;
  });
  verdicts.index.clear();
  for (std::size_t i = 0; i < verdicts.nodes.size(); ++i) verdicts.index[verdicts.nodes[i].node] = i;
}
