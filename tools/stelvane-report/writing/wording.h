// The words every output shares: figures and ratios as they are shown, lists,
// and why a node is not ok.
#pragma once

#include <string>
#include <vector>

#include "judging/verdict.h"

// Adds an item to a list in text: "a, b" and so on.
void append_listed(std::string& list, const std::string& item, const char* separator = ", ");

// A figure as the benchmark prints it: six significant digits, nan for a
// failed measurement.
std::string figure_text(double value);

std::string ratio_text(double ratio);                   // 0.42, or - when not compared
std::string keyed_ratio(int m, double ratio);           // "streams 0.42"
struct NodeChange;
// "streams 0.41, block_read 0.52": where a node got slower than the cluster
// since the baseline, each change as a share of the cluster's.
std::string relative_changes(const NodeChange& node);
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
// "gen2: 24 nodes, streams 0.60, descriptors 0.61 of gen3's median" for a
// group against the largest, in the judged measurements; "gen3: 40 nodes,
// the largest"; "gpu: 2 nodes, too few to judge (fewer than 3)".
std::string group_text(const Verdicts& verdicts, const GroupReport& group);
// What the report says of a group found, not declared, that stands apart:
// "kind 2 (cn[0045-0063]): if those nodes are a kind of their own, ...".
std::string group_apart_text(const GroupReport& group);
// Where the groups came from: "learned from the kept runs", or "learned from
// the kept runs, new nodes' seen in this run" when new nodes make groups of
// their own.
std::string groups_source_text(const Verdicts& verdicts);
// The largest group's name; empty without groups.
std::string largest_group_name(const Verdicts& verdicts);

// "6 nodes fell together, cn[0020-0025], 0.61 of their own normal in every
// measurement; probably CPU or system-call cost".
std::string shared_fall_text(const SharedFall& fall);
// "streams 0.80 (line 0.96), ...": the cluster's change in each judged
// measurement it is known in; empty when none.
std::string cluster_changes(const Verdicts& verdicts);
// "the whole cluster runs at 0.80 of its kept runs in every measurement: a
// change common to every node - a kernel, firmware or setting"; empty when
// the cluster is below its line nowhere.
std::string cluster_fall_text(const Verdicts& verdicts);

// Why a node is not ok, each finding said once: "below its line in streams,
// descriptors (as low as 0.56 of its group's median, in streams, line 0.63);
// below its own normal in ... , as others fell with it".
std::string verdict_finding(const NodeVerdict& node);

// verdict_detail and, for a slow or suspect node, its probable cause.
std::string verdict_reason(const NodeVerdict& node);

// "probably the metadata path: streams 0.41, descriptors 0.44, byte-wise 0.98/1.01";
// "cause unclear: ..."; empty for none.
std::string cause_text(const ProbableCause& cause);
// "probably the metadata path", "cause unclear"; empty for none.
std::string cause_summary(Cause cause);
