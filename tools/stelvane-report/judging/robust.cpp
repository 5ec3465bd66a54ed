#include "judging/robust.h"

#include <algorithm>
#include <cmath>

double median_of(std::vector<double> values) {
  if (values.empty()) return NAN;
  const auto middle = values.begin() + values.size() / 2;
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2) return *middle;
  return (*std::max_element(values.begin(), middle) + *middle) / 2.0;
}

Centre centre_of(const std::vector<double>& values) {
  Centre centre{median_of(values), NAN};
  if (!(centre.median > 0)) return centre;
  std::vector<double> distances;
  for (double value : values) distances.push_back(std::fabs(value / centre.median - 1.0));
  centre.spread = MAD_TO_SIGMA * median_of(distances);
  return centre;
}
