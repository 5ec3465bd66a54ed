// Runs of a simulated fleet for the report's unit tests: one rank per node,
// every measurement long enough to be judged.
#pragma once

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "reading/result_reader.h"

// A run of one rank per node on `nodes` nodes named n00, n01, ...; node i at
// speed[i] times a noise of 2 % (log-normal, from the seed), in every
// measurement, each lasting long enough to be judged; node `absent` down.
inline ResultFile fleet_run(const std::vector<double>& speed, unsigned seed, int absent = -1) {
  ResultFile file;
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 0.02);
  file.ranks = static_cast<int>(speed.size()) + 1;
  auto name = [](std::size_t i) { return std::string(i < 10 ? "n0" : "n") + std::to_string(i); };
  file.stamp.rank0_node = "head";
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    file.measurements[m].rank0_seconds = 1.0;
    file.measurements[m].rank0_figure = 100;
    for (std::size_t i = 0; i < speed.size(); ++i) {
      const double figure = 100 * speed[i] * std::exp(noise(random));
      if (static_cast<int>(i) != absent)
        file.measurements[m].workers.push_back({static_cast<int>(i) + 1, name(i), 1.0, figure});
    }
  }
  return file;
}

// `count` nodes: the first at 1, from `share` of the way on at `factor`
// (then from `share2` on at `factor2`).
inline std::vector<double> kinds(int count, double share, double factor, double share2 = 2, double factor2 = 1) {
  std::vector<double> speed(count, 1.0);
  for (int i = 0; i < count; ++i) speed[i] = i >= share2 * count ? factor2 : i >= share * count ? factor : 1.0;
  return speed;
}

