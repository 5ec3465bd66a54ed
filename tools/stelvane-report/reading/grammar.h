// The result file's grammar: every line the benchmark writes for a job of
// a given size, built from the benchmark's own layouts, each with what its
// number means; and the matching of one line of input against one of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "reading/result_reader.h"

// What the number of a line is. format_only: a figure the line repeats in
// other units (MB/s); it must be a number in the report's format, and is not
// stored.
enum class Field {
  none, rank0_seconds, rank0_figure, worker_seconds, worker_figure, total, improvement, average, format_only
};

// One piece of an expected line: literal text, or a value.
struct Piece {
  enum Kind { literal, number, rank, name } kind;
  std::string text;
};

struct ExpectedLine {
  std::vector<Piece> pieces;
  std::string shown;  // the line as an error message shows it
  int measurement = -1;
  Field field = Field::none;
  double scale = 1.0;  // printed value x scale = stored figure
  int worker = 0;      // rank of the worker whose line it is
  bool names_node = false;  // the line gives the worker's node name
};

// The expected lines of a result file, in the order the benchmark writes them.
struct Grammar {
  std::vector<ExpectedLine> lines;
};

// The whole report of a job of `ranks` ranks.
Grammar grammar_for(int ranks);

// What one line gave: its number, rank label and node name where it has them.
struct Matched {
  double number = NO_FIGURE;
  int rank = -1;
  std::string name;
};

// The line's values when it is the expected line; none when it is not.
std::optional<Matched> match(const ExpectedLine& expected, const std::string& line);

// Whether `line`, cut short, could be the beginning of the expected line:
// its literal text agrees as far as it goes, and a number, rank or name may
// stop anywhere.
bool could_begin(const ExpectedLine& expected, const std::string& line);
