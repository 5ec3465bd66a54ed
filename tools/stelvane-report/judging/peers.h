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

// The figures of the nodes of one measurement, as a whole and by the number
// of workers on the node.
class MeasurementPeers {
 public:
  MeasurementPeers(std::vector<double> all, std::map<int, std::vector<double>> by_workers);

  // A node's ratio and line: its figure over the median of the other nodes
  // it is compared with (those with as many workers while there are at least
  // two of them, else all others), and the line from how closely those
  // others agree. NaN for both when there are too few to compare with.
  std::pair<double, double> ratio_and_line(double own_figure, int workers);

 private:
  PeerFigures all_;
  std::map<int, PeerFigures> alike_;
};
