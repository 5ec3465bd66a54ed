// What one invocation of stelvane-report prints, once its files are read:
// the runs put in order, the comparison with a baseline, and the output in
// the chosen format. main() and the fuzzer both go through here.
#pragma once

#include <ostream>
#include <vector>

#include "judging/compare.h"
#include "judging/history.h"
#include "reading/result_reader.h"

enum class Format { text, json, csv, drain };

struct Report {
  const std::vector<ResultFile>* files = nullptr;  // the baseline first when comparing
  std::vector<JudgedRun> judged;                   // one per file, in the same order
  bool comparing = false;
  bool runs_in_given_order = false;                // not every file name carries a time stamp
  std::vector<const ResultFile*> runs;             // comparing: in time order
  RunComparison comparison;                           // comparing: the latest run with the baseline
};

// `files` must outlive the report; with `comparing`, the first is the
// baseline and at least one other follows. With a `history`, each file is
// also held against the runs of it before its own. With `declared` groups,
// each node is judged against the others of its group.
Report prepare_report(const std::vector<ResultFile>& files, bool comparing,
                      const std::vector<RunSummary>* history = nullptr,
                      const std::vector<DeclaredGroup>* declared = nullptr);

// `notes` takes what is said beside the output (nodes left out of a drain list).
void write_report(std::ostream& out, std::ostream& notes, const Report& report, Format format);
void write_report_page(std::ostream& out, const Report& report);

// The run with the latest time stamp; the last given when some has none.
const JudgedRun& latest_run(const Report& report);
