// The lines of every workload's part of the report, as pure functions of
// figures already computed. The benchmark prints them; stelvane-report builds
// its grammar from the same functions, in the same order.
#pragma once

#include <string>

#include "../measurements.h"
#include "../report_lines.h"
#include "../sizes.h"

// What rank 0 prints before it measures a workload alone.
ReportBlock single_phase_heading(Workload workload);

// Rank 0's lines of one measurement, with the blank lines that close its
// workload's block.
ReportBlock single_figures(MeasurementId measurement, double seconds, double rate);

// What opens rank 0's collection report of a workload.
ReportBlock collection_heading(Workload workload);

// One worker's lines of one measurement: its rank label, processor name,
// seconds and figure.
ReportBlock worker_figures(MeasurementId measurement, int rank, const std::string& name, double seconds,
                           double rate);

// A measurement's cluster figures, as rank 0 formed them.
struct ClusterFigures {
  double total;    // sum of the workers' figures
  double ratio;    // total / rank 0's own figure
  double average;  // total / number of workers
};

ReportBlock file_handling_summary(const ClusterFigures& figures);

// The summary of a byte-wise or block collection report: writing first, then
// reading, then the per-thread averages in MB/s.
ReportBlock transfer_summary(Workload workload, const ClusterFigures& write, const ClusterFigures& read);

// "Millions" figures, and "MB/sec." figures in units of 1,048,576 per second.
inline double in_millions(double rate) { return rate / MILLION; }
inline double in_megabytes(double rate) { return rate * MB_FACTOR * MB_FACTOR; }
