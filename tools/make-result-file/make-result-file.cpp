// Writes a result file of any size without running the benchmark, with the
// benchmark's own layout code and name builder: to see what stelvane-report
// makes of thousands of ranks, and for its tests and benchmark.
//
//   make-result-file DIR --ranks N [--ranks-per-node K] [--seed S]
//                    [--scale F] [--spread S] [--fleet-spread F]
//                    [--short-blocks] [--slow NODE=F]... [--failed NODE]...
//                    [--kind SHARE=F]... [--new-from N=F]
//                    [--time "Mon Dec  7 01:17:13 2026"] [--zone UTC]
//
// Nodes are named cn0000, cn0001, ...; rank r runs on node r mod nodes, as
// --map-by node places it, so rank 0 runs on cn0000. Every figure is a
// typical one of this machine times a noise of up to 10 % (from the seed;
// with --spread S, a log-normal noise whose logarithm has standard deviation
// S, as the figures of a measured cluster scatter; S1,...,S6 gives each
// measurement its own, in report order),
// times --scale, times the node's own speed with --fleet-spread F (drawn
// evenly within 1 +- F, the same in every file whatever the seed: a fleet
// bought in stages), times F on a --slow node, times F on the nodes from
// SHARE of the way through the list with --kind SHARE=F (the last such
// option that reaches a node: --kind 0.7=0.6 makes the last 30 % an older
// kind at 0.6); with --new-from N=F the nodes from cn<N> on are new to the
// cluster, at F times the first nodes' typical speed, and the kinds are
// placed among the first N as if they were all; with --short-blocks the block
// measurements run 100 times faster, too short to be judged, as in the
// benchmark scripts' mid-size runs; a --failed node's block
// measurements failed (nan). Prints the path of the file it wrote.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>

#include "cluster/statistics.h"
#include "workloads/passes.h"
#include "workloads/report_outline.h"

namespace {

// Typical figures of a worker here: files/s, accesses/s, bytes/s.
constexpr double TYPICAL[MEASUREMENT_COUNT] = {70000, 100000, 600000, 650000, 4e8, 3e9};

struct Options {
  std::string directory;
  int ranks = 0;
  int ranks_per_node = 1;
  unsigned seed = 1;
  double scale = 1.0;
  double spread[MEASUREMENT_COUNT] = {};  // standard deviation of the noise's logarithm; 0: up to 10 %, evenly
  double fleet_spread = 0.0;  // nodes' own speeds, within 1 +- this
  bool short_blocks = false;
  std::map<std::string, double> slow;  // node: factor
  std::vector<std::pair<double, double>> kinds;  // from this share of the nodes on: factor
  int new_from = -1;                             // the first new node; -1: none
  double new_factor = 1.0;
  std::map<std::string, bool> failed;
  std::string time = "Mon Dec  7 01:17:13 2026";
  std::string zone = "UTC";
};

[[noreturn]] void usage(const std::string& problem) {
  std::cerr << "make-result-file: " << problem
            << "\nusage: make-result-file DIR --ranks N [--ranks-per-node K] [--seed S] [--scale F] "
               "[--spread S] [--fleet-spread F] [--short-blocks] [--slow NODE=F]... [--failed NODE]... [--kind SHARE=F]... "
               "[--new-from N=F] [--time TEXT] "
               "[--zone ZONE]\n";
  std::exit(2);
}

Options parse(int argc, char* argv[]) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--ranks") options.ranks = std::atoi(value().c_str());
    else if (arg == "--ranks-per-node") options.ranks_per_node = std::atoi(value().c_str());
    else if (arg == "--seed") options.seed = static_cast<unsigned>(std::atoi(value().c_str()));
    else if (arg == "--scale") options.scale = std::atof(value().c_str());
    else if (arg == "--spread") {
      // One value for every measurement, or six, in report order.
      const std::string list = value();
      std::size_t at = 0;
      int given = 0;
      for (; given < MEASUREMENT_COUNT && at != std::string::npos; ++given) {
        options.spread[given] = std::atof(list.c_str() + at);
        at = list.find(',', at);
        if (at != std::string::npos) ++at;
      }
      if (at != std::string::npos || (given != 1 && given != MEASUREMENT_COUNT)) usage("--spread takes one value or six");
      for (int m = given; m < MEASUREMENT_COUNT; ++m) options.spread[m] = options.spread[0];
    }
    else if (arg == "--fleet-spread") options.fleet_spread = std::atof(value().c_str());
    else if (arg == "--short-blocks") options.short_blocks = true;
    else if (arg == "--time") options.time = value();
    else if (arg == "--zone") options.zone = value();
    else if (arg == "--failed") options.failed[value()] = true;
    else if (arg == "--slow") {
      const std::string node_and_factor = value();
      const std::size_t equals = node_and_factor.find('=');
      if (equals == std::string::npos) usage("--slow takes NODE=FACTOR");
      options.slow[node_and_factor.substr(0, equals)] = std::atof(node_and_factor.c_str() + equals + 1);
    } else if (arg == "--kind") {
      const std::string share_and_factor = value();
      const std::size_t equals = share_and_factor.find('=');
      if (equals == std::string::npos) usage("--kind takes SHARE=FACTOR");
      options.kinds.push_back({std::atof(share_and_factor.c_str()), std::atof(share_and_factor.c_str() + equals + 1)});
    } else if (arg == "--new-from") {
      const std::string first_and_factor = value();
      const std::size_t equals = first_and_factor.find('=');
      if (equals == std::string::npos) usage("--new-from takes N=FACTOR");
      options.new_from = std::atoi(first_and_factor.c_str());
      options.new_factor = std::atof(first_and_factor.c_str() + equals + 1);
    } else if (arg.rfind("--", 0) == 0) usage("unknown option " + arg);
    else options.directory = arg;
  }
  if (options.directory.empty()) usage("no directory given");
  if (options.ranks < 1 || options.ranks > MAX_RANKS) usage("--ranks must be 1 to " + std::to_string(MAX_RANKS));
  if (options.ranks_per_node < 1) usage("--ranks-per-node must be at least 1");
  return options;
}

std::string node_name(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "cn%04d", index);
  return name;
}

// Units a measurement credits to a rank at full size.
double credited(MeasurementId m, int rank) {
  if (is_file_handling(m)) return 131072;
  return credited_units(16777216.0, pass_divisor(rank));
}

}  // namespace

int main(int argc, char* argv[]) {
  const Options options = parse(argc, argv);
  const int nodes = (options.ranks + options.ranks_per_node - 1) / options.ranks_per_node;
  std::mt19937 random(options.seed);
  std::uniform_real_distribution<double> even(0.9, 1.1);
  std::normal_distribution<double> normal(0.0, 1.0);
  auto noise = [&](std::mt19937& source, int m) {
    return options.spread[m] > 0 ? std::exp(options.spread[m] * normal(source)) : even(source);
  };

  // Each node's own speed, from a generator of its own that no seed moves.
  std::vector<double> own_speed(nodes, 1.0);
  std::mt19937 fleet(20261207);
  std::uniform_real_distribution<double> within(1.0 - options.fleet_spread, 1.0 + options.fleet_spread);
  for (double& speed : own_speed) speed = within(fleet);
  const int established = options.new_from >= 0 && options.new_from < nodes ? options.new_from : nodes;
  for (int node = 0; node < nodes; ++node) {
    double kind = node >= established ? options.new_factor : 1.0;
    for (const auto& [share, factor] : options.kinds)
      if (node < established && node >= share * established) kind = factor;
    own_speed[node] *= kind;
  }

  ReportFigures figures;
  figures.ranks = options.ranks;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    const MeasurementId id = static_cast<MeasurementId>(m);
    const double typical = TYPICAL[m] * (options.short_blocks && (id == BLOCK_READ || id == BLOCK_WRITE) ? 100 : 1);
    figures.single_rate[m] = typical * options.scale * noise(random, m);
    figures.single_seconds[m] = credited(id, 0) / figures.single_rate[m];
    double total = 0.0;
    for (int rank = 1; rank < options.ranks; ++rank) {
      const std::string node = node_name(rank % nodes);
      double rate = typical * options.scale * noise(random, m) * own_speed[rank % nodes];
      if (options.slow.count(node)) rate *= options.slow.at(node);
      const double seconds = credited(id, rank) / rate;
      if (options.failed.count(node) && (id == BLOCK_READ || id == BLOCK_WRITE)) rate = NAN;
      figures.workers[m].push_back({rank, node, seconds, rate});
      total = add_to_cluster_total(total, rate);
    }
    if (options.ranks > 1)
      figures.cluster[m] = {total, improvement_ratio(total, figures.single_rate[m]),
                            per_thread_average(total, options.ranks)};
  }

  const std::string name = result_file_name(options.zone.c_str(), options.time.c_str(), node_name(0).c_str());
  const std::string path = options.directory + "/" + name;
  std::ofstream out(path);
  for_each_block(options.ranks, [&](const OutlineBlock& block) {
    write_lines(out, report_block(block, figures).file);
  });
  out.close();
  if (!out) {
    std::cerr << "make-result-file: cannot write " << path << std::endl;
    return 1;
  }
  std::cout << path << std::endl;
  return 0;
}
