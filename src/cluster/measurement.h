// The description of one of the six measurements of a run: the tables its
// workers fill and send, the tables rank 0 receives them into, its cluster
// figures and how its per-worker lines read. One description drives both the
// worker's result report and rank 0's sweep over the workers.
#pragma once

#include <string>

#include "../workloads/layouts.h"

struct Measurement {
  const char* what;            // its name in failure lines, e.g. "byte-wise write"
  double* results;             // worker: figure table, [own rank] written
  double* spent;               // worker: seconds table
  double* results_temp;        // rank 0: receive table for results
  double* spent_temp;          // rank 0: receive table for spent
  std::string* names;          // rank 0: processor name of each worker
  double* total;               // rank 0: cluster total
  double* average;             // rank 0: per-thread average
  const double* single;        // rank 0: its own single-process figure
  WorkerLines worker_lines;    // layout of a worker's lines
  const char* spent_suffix;    // end of a worker's first line
};

// In the order in which they run and are reported.
extern const Measurement streams_measurement;
extern const Measurement descriptors_measurement;
extern const Measurement bytewise_write_measurement;
extern const Measurement bytewise_read_measurement;
extern const Measurement block_read_measurement;
extern const Measurement block_write_measurement;
