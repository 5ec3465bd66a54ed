// What stelvane-report prints: a text summary, JSON, CSV or an HTML page.
#pragma once

#include <ostream>
#include <vector>

#include "result_reader.h"

struct Comparison;
struct JudgedRun;

void write_text(std::ostream& out, const std::vector<JudgedRun>& runs);
void write_json(std::ostream& out, const std::vector<JudgedRun>& runs);
void write_csv(std::ostream& out, const std::vector<JudgedRun>& runs);
// With a comparison, the page shows it first, then the later run alone.
void write_html(std::ostream& out, const std::vector<JudgedRun>& runs, const Comparison* comparison = nullptr);

// Comparing runs: `runs` in time order, the comparison of the later run with
// the baseline, and each node's history over all the runs.
void write_comparison_text(std::ostream& out, const std::vector<const ResultFile*>& runs, const Comparison& comparison);
void write_comparison_json(std::ostream& out, const std::vector<const ResultFile*>& runs, const Comparison& comparison);
void write_comparison_csv(std::ostream& out, const std::vector<const ResultFile*>& runs, const Comparison& comparison);

// A figure as the benchmark prints it: six significant digits, nan for a
// failed measurement.
std::string figure_text(double value);

struct NodeVerdict;
struct Verdicts;
std::string ratio_text(double ratio);                   // 0.42, or - when not compared
// The judged measurements in which the nodes' run-to-run spread holds the
// peer line below the highest it can lie, each with that ceiling; empty when
// none.
std::string lowered_peer_lines(const Verdicts& verdicts);
std::string ranks_text(const std::vector<int>& ranks);  // 2, 6
std::string run_label(const ResultFile& file);          // its file, and its start when the name says
// Why a node is not ok: "below 0.50 of the other nodes in streams 0.16, ..."
// or "failed in block_read, block_write".
std::string verdict_detail(const NodeVerdict& node);
// "streams 0.62 (line 0.78), descriptors 0.58 (line 0.80)": where a node is
// low against its peers.
std::string low_measurements(const NodeVerdict& node);
// "streams 0.84 (own 1.01, line 0.93)": where it is low against its own normal.
std::string below_own_normal(const NodeVerdict& node);
// verdict_detail and, for a slow or suspect node, its probable cause.
std::string verdict_reason(const NodeVerdict& node);
