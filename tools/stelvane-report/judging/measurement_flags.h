// A flag per measurement, as a node's lows and failures are kept.
#pragma once

#include <vector>

#include "measurements.h"

// The measurements whose flag is set, in report order.
inline std::vector<int> measurements_where(const bool (&flags)[MEASUREMENT_COUNT]) {
  std::vector<int> indices;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    if (flags[m]) indices.push_back(m);
  return indices;
}
