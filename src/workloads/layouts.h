// Line layouts of every workload's report, as pure functions of the figures.
#pragma once

#include <string>

#include "../report.h"
#include "../sizes.h"

// Per-worker lines of a collection report: the worker's rank label,
// processor name, seconds and figure; spent_suffix ends the first line
// (" Secs.", " Secs. to Write.", " Secs. to Read.").
using WorkerLines = ReportBlock (*)(int rank, const std::string& name, double seconds, double figure,
                                    const char* spent_suffix);

// --- File handling (files per second) ---------------------------------------
ReportBlock file_handling_single_lines(double seconds, double files_per_second);
ReportBlock file_handling_worker_lines(int rank, const std::string& name, double seconds,
                                       double files_per_second, const char* spent_suffix);
ReportBlock file_handling_summary(double cluster_total, double single_process_figure, double average);

// Titles of the two file-handling workloads; rank 0's console spells the
// descriptor title of its single-process phase its own way.
inline constexpr const char* STREAMS_TITLE = "Power of Handling Files -- Lower";
inline constexpr const char* DESCRIPTORS_TITLE = "Power of Handling Files -- Higher";
inline constexpr const char* DESCRIPTORS_SINGLE_CONSOLE_TITLE = "Power of Handling Files -- Hihger";

// Headings of the two transfer workloads.
inline constexpr const char* BYTEWISE_HEADING = "Low writing and reading speeds:";
inline constexpr const char* BLOCK_HEADING = "High writing and reading speeds:";

// --- Byte-wise and block transfers (accesses or bytes per second) -----------
ReportBlock transfer_single_lines(double seconds, double rate, const char* spent_suffix);
ReportBlock transfer_worker_lines(int rank, const std::string& name, double seconds, double rate,
                                  const char* spent_suffix);

// The summary of a transfer workload's collection report: write figures
// first, then read figures, then the per-thread averages in MB/s.
struct TransferSummaryLayout {
  int blank_lines_before;          // 2 for byte-wise, 1 for block
  const char* average_word;        // "low" or "high"
  const char* write_average_unit;  // " MB/sec." or "  MB/sec."
  const char* read_average_unit;
  int blank_lines_after;           // 2 for byte-wise, 0 for block
};
struct TransferTotals {
  double write_total, write_single, write_average;
  double read_total, read_single, read_average;
};
ReportBlock transfer_summary(const TransferSummaryLayout& layout, const TransferTotals& totals);

inline constexpr TransferSummaryLayout BYTEWISE_SUMMARY = {2, "low", " MB/sec.", "  MB/sec.", 2};
inline constexpr TransferSummaryLayout BLOCK_SUMMARY = {1, "high", "  MB/sec.", "  MB/sec.", 0};

// "Millions" figures, and "MB/sec." figures in units of 1,048,576 per second.
inline double in_millions(double rate) { return rate / MILLION; }
inline double in_megabytes(double rate) { return rate * MB_FACTOR * MB_FACTOR; }
