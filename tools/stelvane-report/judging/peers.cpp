#include "judging/peers.h"

#include <algorithm>
#include <cmath>

#include "judging/node_verdict.h"

namespace {

// The median of a sorted list without its element at `position` (or whole,
// when position is past its end).
double median_without(const std::vector<double>& sorted, std::size_t position) {
  const std::size_t count = sorted.size() - (position < sorted.size() ? 1 : 0);
  if (count == 0) return NO_FIGURE;
  auto at = [&](std::size_t i) { return sorted[i < position ? i : i + 1]; };
  return count % 2 ? at(count / 2) : (at(count / 2 - 1) + at(count / 2)) / 2.0;
}

std::vector<double> sorted(std::vector<double> figures) {
  std::sort(figures.begin(), figures.end());
  return figures;
}

// The entry of `key`, or null.
template <typename Key>
PeerFigures* find(std::map<Key, PeerFigures>& figures, const Key& key) {
  const auto found = figures.find(key);
  return found == figures.end() ? nullptr : &found->second;
}

}  // namespace

double low_line(double others_median_distance) {
  if (std::isnan(others_median_distance)) return NO_FIGURE;
  const double line = 1.0 - LOW_SPREADS * MAD_TO_SIGMA * others_median_distance;
  return std::clamp(line, LOW_RATIO_FLOOR, LOW_RATIO_CEILING);
}

PeerFigures::PeerFigures(std::vector<double> figures) : sorted_(sorted(std::move(figures))) {}

std::size_t PeerFigures::position_of(double figure) const {
  if (std::isnan(figure)) return sorted_.size();
  return static_cast<std::size_t>(std::lower_bound(sorted_.begin(), sorted_.end(), figure) - sorted_.begin());
}

std::size_t PeerFigures::others(std::size_t position) const {
  return sorted_.size() - (position < sorted_.size() ? 1 : 0);
}

double PeerFigures::median_of_others(std::size_t position) const { return median_without(sorted_, position); }

double PeerFigures::others_median_distance(std::size_t position) {
  const double centre = median_of_others(position);
  if (std::isnan(centre) || centre <= 0) return NO_FIGURE;
  std::vector<double>& distances = distances_from(centre);
  const double own = position < sorted_.size() ? std::fabs(sorted_[position] / centre - 1.0) : NO_FIGURE;
  const std::size_t own_position =
      std::isnan(own) ? distances.size()
                      : static_cast<std::size_t>(std::lower_bound(distances.begin(), distances.end(), own) -
                                                 distances.begin());
  return median_without(distances, own_position);
}

std::vector<double>& PeerFigures::distances_from(double centre) {
  auto [at, added] = distances_.try_emplace(centre);
  if (added) {
    for (double figure : sorted_) at->second.push_back(std::fabs(figure / centre - 1.0));
    std::sort(at->second.begin(), at->second.end());
  }
  return at->second;
}

MeasurementPeers::MeasurementPeers(const std::vector<PeerEntry>& nodes) {
  std::map<std::pair<int, int>, std::vector<double>> alike;
  std::map<int, std::vector<double>> whole;
  for (const PeerEntry& node : nodes) {
    alike[{-1, node.workers}].push_back(node.figure);
    whole[-1].push_back(node.figure);
    if (node.group < 0) continue;
    alike[{node.group, node.workers}].push_back(node.figure);
    whole[node.group].push_back(node.figure);
  }
  for (auto& [key, figures] : alike) alike_.emplace(key, PeerFigures(std::move(figures)));
  for (auto& [key, figures] : whole) whole_.emplace(key, PeerFigures(std::move(figures)));
}

std::pair<double, double> MeasurementPeers::ratio_and_line(double own_figure, int group, int workers) {
  for (auto* compared : {find(alike_, std::pair{group, workers}), find(whole_, group)}) {
    if (compared == nullptr) continue;
    const std::size_t position = compared->position_of(own_figure);
    if (compared->others(position) < MIN_COMPARED_NODES - 1) continue;
    return {own_figure / compared->median_of_others(position),
            low_line(compared->others_median_distance(position))};
  }
  return {NO_FIGURE, NO_FIGURE};
}
