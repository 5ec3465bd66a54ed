// Failed operations of a measurement and the lines that report them.
//
// A measurement counts its failed operations inside the timed span with one
// predictable branch on a value the call already returned, keeps the first
// errno, and is judged after the second clock reading. A failed measurement's
// figure is NaN; its rank writes one line to standard error and ends with a
// non-zero status once the run is over.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

struct OpFailures {
  std::uint64_t count = 0;  // failed operations
  int first_errno = 0;      // errno of the first of them
  std::string first_cause;  // or a cause that has no errno ("file holds only ...")

  void note(int error_number) {
    if (count++ == 0) first_errno = error_number;
  }
  void note(const std::string& cause) {
    if (count++ == 0) first_cause = cause;
  }
  bool any() const { return count != 0; }
};

inline constexpr double FAILED_FIGURE = std::numeric_limits<double>::quiet_NaN();

// The figure of a measurement: credited units per second, or NaN when any of
// its operations failed.
inline double measured_rate(double credited, double seconds, const OpFailures& failures) {
  return failures.any() ? FAILED_FIGURE : credited / seconds;
}

// "65536 of 98304 byte writes failed, first: No space left on device"
std::string failure_detail(const OpFailures& failures, std::uint64_t attempted, const char* operations);

// "stelvane-mpi: rank 1 (node1)": how a rank opens a line of standard error.
std::string rank_prefix(int rank, const char* processor);

// The line, on standard error and in the result file, of a worker that rank 0
// gave up waiting for: "stelvane-mpi: rank 2 (node3): no answer in byte-wise
// write within 75 s of the start; its figures from here on are nan". The
// node is left out when it never said which it is.
std::string no_answer_line(int rank, const std::string& node, const char* measurement, const std::string& why);
inline constexpr const char* NO_ANSWER_WORDS = ": no answer in ";
inline constexpr const char* NO_ANSWER_END = "; its figures from here on are nan";

// The line, on standard error, of a worker that answered every measurement
// but never came to the end of the run: "stelvane-mpi: rank 2 (node3): did
// not come to the end of the run within 60 s of the report's end; the job is
// ended, and its figures are all in the report".
std::string not_at_the_end_line(int rank, const std::string& node, double seconds);

// The whole standard-error line of a failed measurement.
std::string failure_line(int rank, const char* processor, const char* measurement, const char* file,
                         const std::string& detail);

// Writes one line to standard error in a single write, so that under a
// launcher, which forwards every rank's standard error to one place, no other
// rank's text lands inside it.
void write_error_line(const std::string& text);

// Writes a failure line to standard error and marks the run as failed.
void report_failure(int rank, const char* processor, const char* measurement, const char* file,
                    const std::string& detail);

void mark_run_failed();
bool run_failed();  // true once any failure was reported by this rank
