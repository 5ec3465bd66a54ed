// The runs a site kept, read for the history (history.h).
//
// Each path given is a folder or a file. A folder gives every regular file
// in it that has the name the benchmark gives its result files, so that the
// folder the benchmark writes into can be named as it is; a file is taken
// whatever its name. A file that cannot be read, is not a result file, or
// stops part way is named on `notes` and left out: it never moves a node's
// normal and never ends the report.
//
// Reading a result file of 4,096 ranks takes a tenth of a second or more,
// so a folder keeps an index of what each file said (history_index.h)
// beside its files, and only files new or changed since are read.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "reading/result_reader.h"
#include "reading/run_summary.h"

struct History {
  std::vector<RunSummary> runs;  // in the order found: folders' files by name
  std::size_t skipped = 0;       // files named on notes and left out
};

// How a result file becomes what it says of each node: the judging a history
// rests on, given by the caller so that reading stays apart from it; and the
// name of its rule, kept in a folder's index so that an index made under
// another rule is made anew.
struct Summarize {
  std::function<RunSummary(const ResultFile&)> run;
  std::string rule;
};

History read_history(const std::vector<std::string>& paths, const Summarize& summarize, std::ostream& notes);

// The name of the index a folder keeps.
inline constexpr const char* HISTORY_INDEX_NAME = "stelvane-report-index.sqlite";
