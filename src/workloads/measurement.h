// The whole description of one of the six measurements of a run: where rank
// 0 keeps its own figures, the tables its workers fill and send, the tables
// rank 0 receives them into and its cluster figures. One description drives
// the timing, the worker's result messages and rank 0's sweep over the
// workers.
#pragma once

#include <string>

#include "../measurements.h"

// Where a measurement keeps its four figures: rank 0's single figures, or
// entry [own rank] of a worker's tables.
struct FigureSlots {
  double* start;
  double* end;
  double* spent;
  double* result;
};

struct Measurement {
  MeasurementId id;
  FigureSlots single;     // rank 0 alone
  double* start;          // worker tables, [own rank] written
  double* end;
  double* spent;
  double* results;
  double* results_temp;   // rank 0: receive table for results
  double* spent_temp;     // rank 0: receive table for spent
  std::string* names;     // rank 0: processor name of each worker
  double* total;          // rank 0: cluster total
  double* average;        // rank 0: per-thread average

  FigureSlots single_slots() const { return single; }
  FigureSlots worker_slots(int rank) const { return {&start[rank], &end[rank], &spent[rank], &results[rank]}; }
  const char* name() const { return MEASUREMENTS[id].name; }
};

// Indexed by MeasurementId: in the order in which they run and are reported.
extern const Measurement MEASUREMENT_TABLES[MEASUREMENT_COUNT];

inline const Measurement& measurement(MeasurementId id) { return MEASUREMENT_TABLES[id]; }
