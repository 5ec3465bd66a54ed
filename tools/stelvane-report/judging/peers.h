// The nodes a node is compared with in one measurement, and where its
// figure stands among them (verdict.h).
#pragma once

#include <cstddef>
#include <map>
#include <utility>
#include <vector>

// The others a node is compared with, and how closely they agree: their
// figures sorted, with the node's own taken out by position. The median of
// the others takes one of at most three values, whichever figure is taken
// out, so the others' distances from it are sorted once for each.
class PeerFigures {
 public:
  explicit PeerFigures(std::vector<double> figures);

  // Where a figure stands among them (past the end for NaN: not among them).
  std::size_t position_of(double figure) const;
  // How many others there are once the figure at `position` is taken out.
  std::size_t others(std::size_t position) const;
  double median_of_others(std::size_t position) const;
  // The median distance of the others' figures from their median, as a
  // share of it.
  double others_median_distance(std::size_t position);

 private:
  std::vector<double>& distances_from(double centre);

  std::vector<double> sorted_;
  std::map<double, std::vector<double>> distances_;  // by the centre they are taken from
};

// The line below which a ratio is low, from the median distance of the other
// nodes' figures from their median, as a share of it (NaN: no line, nothing
// compared).
double low_line(double others_median_distance);

// A node's figure in one measurement, with its group (-1: none) and its
// number of workers.
struct PeerEntry {
  double figure;
  int group;
  int workers;
};

// The figures of the nodes of one measurement: as a whole, by the number of
// workers on the node, and the same within each group.
class MeasurementPeers {
 public:
  explicit MeasurementPeers(const std::vector<PeerEntry>& nodes);  // finite figures only

  // A node's ratio and line: its figure over the median of the other nodes
  // it is compared with, and the line from how closely those others agree.
  // A node in a group is compared with the others of its group with as many
  // workers while there are at least two of them, else with the whole
  // group; a node in none likewise with all nodes. NaN for both when there
  // are too few to compare with.
  std::pair<double, double> ratio_and_line(double own_figure, int group, int workers);

 private:
  std::map<std::pair<int, int>, PeerFigures> alike_;  // (group, workers); group -1: every node
  std::map<int, PeerFigures> whole_;                  // by group; -1: every node
}; 
