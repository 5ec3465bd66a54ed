// Robust statistics: the median, and the spread about it that a few wild
// figures cannot move, which every line of the verdict is drawn from.
#pragma once

#include <vector>

inline constexpr double MAD_TO_SIGMA = 1.4826;  // a normal distribution's sigma per median absolute deviation

double median_of(std::vector<double> values);  // NaN when empty

// A set of figures' median and their robust standard deviation as a share
// of it: MAD_TO_SIGMA times their median distance from the median, over the
// median. The spread is NaN when the median is not above zero.
struct Centre {
  double median;
  double spread;
};
Centre centre_of(const std::vector<double>& values);
