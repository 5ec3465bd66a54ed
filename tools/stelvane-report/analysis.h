// Per-measurement statistics of the workers' figures and the slow-node rule.
#pragma once

#include <string>
#include <vector>

#include "result_reader.h"

// A worker is slow when its figure lies more than SLOW_ROBUST_Z robust
// z-scores below the median of the workers' figures (z = 0.6745 (x - median)
// / MAD, MAD the median absolute deviation) and also below SLOW_FRACTION of
// that median. Failed workers (nan) are neither counted nor slow.
inline constexpr double SLOW_ROBUST_Z = 3.5;
inline constexpr double SLOW_FRACTION = 0.5;

struct WorkerSpread {
  std::size_t measured = 0;  // workers with a figure
  double median = NO_FIGURE, min = NO_FIGURE, max = NO_FIGURE, mad = NO_FIGURE;
  std::vector<const WorkerFigures*> slow;    // in rank order
  std::vector<const WorkerFigures*> failed;  // in rank order
};

double median_of(std::vector<double> values);  // NaN when empty
bool is_slow(double figure, double median, double mad);
WorkerSpread spread_of(const MeasurementFigures& measurement);

// Whether `worker` is one of `workers` (a spread's slow or failed list).
bool is_listed(const std::vector<const WorkerFigures*>& workers, const WorkerFigures& worker);
