// The frame of every measurement: two clock readings around the operations
// and nothing else; the figure and any failure are judged after the second.
#pragma once

#include <cstdint>
#include <string>

#include "../failures.h"
#include "../globals.h"
#include "../own_files.h"
#include "../span_marks.h"
#include "../test_hooks.h"
#include "measurement.h"

// What a failure line says about a measurement. `file` is read after the
// measurement, so it may be a buffer the operations fill.
struct FailureLabel {
  MeasurementId id;          // which measurement: its name opens the line
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
  span_begin(MEASUREMENTS[label.id].key);
  const double credited = operations(failures);
  span_end(MEASUREMENTS[label.id].key);
  *figures.end = MPI_Wtime();
  *figures.spent = *figures.end - *figures.start;
  *figures.result = measured_rate(credited, *figures.spent, failures);
  if (failures.any()) [[unlikely]]
    report_failure(iproc, proc_name, MEASUREMENTS[label.id].name, label.file,
                   failure_detail(failures, label.attempted, label.operations));
}

// Before a measurement that creates `name`, outside its span: a leftover of
// this user's goes, so that the exclusive create inside makes the file anew;
// anything else stays, and that create fails on it.
template <class Name>
void free_output_name(const Name& name) {
  clear_own_leftover(iproc, proc_name, name());
}

// A measurement that reads `label.file` is refused when the entry there is
// not a file this program made (a link, a FIFO, another user's file): it is
// not timed, its figure is NaN and its failure line says what is there.
// Returns whether it was refused.
inline bool refuse_foreign_input(const FigureSlots& figures, const FailureLabel& label) {
  const std::string foreign = foreign_entry(label.file);
  if (foreign.empty()) [[likely]] return false;
  *figures.start = *figures.end = MPI_Wtime();
  *figures.spent = 0.0;
  *figures.result = FAILED_FIGURE;
  report_failure(iproc, proc_name, MEASUREMENTS[label.id].name, label.file, "it is " + foreign);
  return true;
}
