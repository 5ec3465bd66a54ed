// What stelvane-report prints: a text summary, JSON, CSV or an HTML page.
#pragma once

#include <ostream>
#include <vector>

#include "reading/result_reader.h"

struct RunComparison;
struct JudgedRun;

void write_text(std::ostream& out, const std::vector<JudgedRun>& runs);
void write_json(std::ostream& out, const std::vector<JudgedRun>& runs);
void write_csv(std::ostream& out, const std::vector<JudgedRun>& runs);
// With a comparison, the page shows it first, then the later run alone.
void write_html(std::ostream& out, const std::vector<JudgedRun>& runs, const RunComparison* comparison = nullptr);

// Comparing runs: `runs` in time order, the comparison of the later run with
// the baseline, and each node's history over all the runs.
void write_comparison_text(std::ostream& out, const std::vector<const ResultFile*>& runs, const RunComparison& comparison);
void write_comparison_json(std::ostream& out, const std::vector<const ResultFile*>& runs, const RunComparison& comparison);
void write_comparison_csv(std::ostream& out, const std::vector<const ResultFile*>& runs, const RunComparison& comparison);
