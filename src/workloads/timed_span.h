// The frame of every measurement: two clock readings around the operations
// and nothing else; the figure and any failure are judged after the second.
#pragma once

#include <cstdint>

#include "../failures.h"
#include "../globals.h"
#include "../test_hooks.h"
#include "measurement.h"

// What a failure line says about a measurement. `file` is read after the
// measurement, so it may be a buffer the operations fill.
struct FailureLabel {
  const char* measurement;
  const char* file;
  std::uint64_t attempted;   // operations of the kind counted, 1 when not counted
  const char* operations;    // their name in the failure line
};

// Times `operations(failures)`, which returns the units it credits (cycles,
// accesses or bytes), and stores the seconds and the figure: credited units
// per second, or NaN with a failure line when any operation failed. Inside
// the span the operations only count their failures, with one predictable
// branch each.
template <class Operations>
void time_measurement(const FigureSlots& figures, const FailureLabel& label, Operations&& operations) {
  OpFailures failures;
  *figures.start = MPI_Wtime();
  test_hook_slow_worker(iproc);
  const double credited = operations(failures);
  *figures.end = MPI_Wtime();
  *figures.spent = *figures.end - *figures.start;
  *figures.result = measured_rate(credited, *figures.spent, failures);
  if (failures.any()) [[unlikely]]
    report_failure(iproc, proc_name, label.measurement, label.file,
                   failure_detail(failures, label.attempted, label.operations));
}
