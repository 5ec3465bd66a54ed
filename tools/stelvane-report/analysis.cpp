#include "analysis.h"

#include <algorithm>
#include <cmath>

double median_of(std::vector<double> values) {
  if (values.empty()) return NO_FIGURE;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

bool is_slow(double figure, double median, double mad) {
  if (std::isnan(figure) || std::isnan(median) || !(figure < SLOW_FRACTION * median)) return false;
  // With no spread at all, any figure below half the median stands out.
  if (mad == 0.0) return true;
  return 0.6745 * (figure - median) / mad < -SLOW_ROBUST_Z;
}

WorkerSpread spread_of(const MeasurementFigures& measurement) {
  WorkerSpread spread;
  std::vector<double> figures;
  for (const WorkerFigures& worker : measurement.workers) {
    if (std::isnan(worker.figure))
      spread.failed.push_back(&worker);
    else
      figures.push_back(worker.figure);
  }
  spread.measured = figures.size();
  if (figures.empty()) return spread;
  spread.median = median_of(figures);
  spread.min = *std::min_element(figures.begin(), figures.end());
  spread.max = *std::max_element(figures.begin(), figures.end());
  std::vector<double> deviations;
  for (double figure : figures) deviations.push_back(std::fabs(figure - spread.median));
  spread.mad = median_of(deviations);
  for (const WorkerFigures& worker : measurement.workers)
    if (is_slow(worker.figure, spread.median, spread.mad)) spread.slow.push_back(&worker);
  return spread;
}

bool is_listed(const std::vector<const WorkerFigures*>& workers, const WorkerFigures& worker) {
  return std::find(workers.begin(), workers.end(), &worker) != workers.end();
}
