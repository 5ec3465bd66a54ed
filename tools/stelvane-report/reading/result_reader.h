// Reads a benchmark result file back into figures. The grammar is the
// benchmark's own line layout: the expected lines are built by the same
// layout functions that write them, with numbers, names and rank labels left
// open, so the reader and the writer cannot drift apart.
#pragma once

#include <cmath>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "measurements.h"
#include "reading/run_stamp.h"

inline constexpr double NO_FIGURE = NAN;

// The longest line a result file may hold: a report line is at most a few
// hundred bytes (a processor name has at most 255).
inline constexpr std::size_t MAX_LINE_BYTES = 4096;

struct WorkerFigures {
  int rank = 0;
  std::string node;
  double seconds = NO_FIGURE;
  double figure = NO_FIGURE;  // units per second; NaN when the measurement failed
};

struct MeasurementFigures {
  double rank0_seconds = NO_FIGURE;  // rank 0 alone
  double rank0_figure = NO_FIGURE;
  std::vector<WorkerFigures> workers;  // in rank order
  double total = NO_FIGURE;            // cluster total, with workers only
  double improvement = NO_FIGURE;      // total / rank 0's figure
  double average = NO_FIGURE;          // total / workers
};

// A worker that rank 0 gave up waiting for: from `measurement` on its
// figures are NaN.
struct LostRank {
  int rank = 0;
  std::string node;         // empty when it never said
  MeasurementId measurement = STREAMS;
  std::string why;          // "within 75 s of the start", "before the job was ended (SIGTERM)"
};

struct ResultFile {
  std::string source;  // file name, or "-" for standard input
  RunStamp stamp;
  int ranks = 0;
  MeasurementFigures measurements[MEASUREMENT_COUNT];
  std::vector<LostRank> lost;  // in the order the file names them
  bool complete = false;
  std::string truncation;  // when not complete: where the file stops
};

// A line that is not what the layout allows: names the file, the line
// number and what was expected.
class ParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a whole result file. A file that stops part way (a run that was
// stopped, a partial copy), at the end of a line or inside one, is returned
// with complete == false and what it did contain. Anything else that is not
// the report's layout throws ParseError.
ResultFile parse_result_file(std::istream& in, const std::string& source);

// Reads the result file at a path, or standard input for "-". Throws
// ParseError for a path that cannot be read or is not a regular file too.
ResultFile read_result_file(const std::string& path);

// Text from a file as a terminal may show it: control and non-ASCII bytes
// as \xNN, so that a hostile node name cannot move the cursor or retitle
// the window.
std::string printable(const std::string& text);

// The same, at most 200 characters, as a message shows a line of a file.
std::string shown_safely(const std::string& text);

// Parses a number exactly as the benchmark's streams print it (six
// significant digits, %g style, nan and inf included); false otherwise.
bool parse_report_number(const std::string& text, double& value);
