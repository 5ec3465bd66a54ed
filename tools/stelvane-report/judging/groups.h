// Groups of alike nodes: each node is judged against the others of its group.
//
// Clusters grow in stages, and the benchmark's figures follow a node's kind:
// file handling and byte-wise figures are system-call rates, set by the CPU
// and kernel; block figures by memory and device. Held against the whole
// fleet, an older kind looks like a set of bad nodes. So nodes are grouped,
// most trusted source first:
//
//   declared  by the site (--groups, or the features Slurm knows): every
//             node of the run that a group names; a node in no group is
//             compared with all the nodes of the run, as without groups;
//   learned   from the kept runs: the nodes' levels (in each measurement, the
//             median of a node's ratios to the whole fleet in its earlier
//             runs) fall into kinds, found anew from the history each time;
//             nodes they hold alike stay one kind, whatever one run shows;
//   seen      in one run: the nodes' figures fall into kinds; with kept
//             runs, only for the nodes they do not know yet (history.h).
//
// Kinds are found by splitting: in each judged measurement the nodes are
// sorted by the logarithm of their level, and a place between two
// neighbours splits them when
//   - each side holds at least MIN_KIND_NODES nodes and MIN_KIND_SHARE of
//     them, so that a few slow nodes are never a kind of their own;
//   - read by the nodes nearest the place on each side (as many as the
//     smaller side holds, at most a quarter of all but at least 8 and the
//     smallest kind), the sides' medians lie KIND_SEPARATION spreads apart,
//     a spread being the larger of their pooled robust standard deviation
//     and their pooled standard deviation (a few nodes give a robust one
//     that chance can make tiny; from 8 nodes a side, without its node
//     furthest out, so that one slow node does not hide its kind), and the
//     gap between the neighbours is at least their whole spread, that node
//     in: the sides are two modes, not the two halves of one;
//   - the lower side's median is at most KIND_STEP of the upper's: kinds
//     closer than that never cross the peer line's ceiling, and need no
//     group.
// The clearest such place over all measurements splits the nodes, and each
// side is split again the same way until no place qualifies. Fleets of one
// kind are never split, and fleets of two or three kinds always, in the
// trials of docs/verdict.md (bench/slow-node --first-run-kinds).
//
// A group found, not declared, that is not the largest stands apart: its
// nodes are judged among themselves and it is named, never drained whole.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "measurements.h"
#include "reading/group_file.h"

inline constexpr int MIN_KIND_NODES = 4;
inline constexpr double MIN_KIND_SHARE = 0.05;
inline constexpr double KIND_SEPARATION = 10.0;
inline constexpr double KIND_STEP = 0.85;
// A node of a kind seen in one run lies between kinds when, in at least
// SLOW_MEASUREMENTS judged measurements, its figure lies between its kind's
// median and another's, at least BETWEEN_SHARE of the way to it (in
// logarithms) and more than LOW_SPREADS of its kind's spreads from its own.
inline constexpr double BETWEEN_SHARE = 0.25;

enum class GroupSource { declared, learned, seen };
const char* group_source_name(GroupSource source);  // "declared", "learned from the kept runs", "seen in this run"
const char* group_source_key(GroupSource source);   // "declared", "learned", "seen"

struct NodeGroup {
  std::string name;
  GroupSource source = GroupSource::seen;
};

// Which group each node is in; a node in none is compared with every node.
struct Grouping {
  std::vector<NodeGroup> groups;
  std::unordered_map<std::string, int> group_of;  // node name: index into groups
  int of(const std::string& node) const;          // -1: in no group
  // Whether it changes nothing and says nothing: no group, or one found
  // group that holds every node of a run of `nodes` nodes.
  bool trivial(std::size_t nodes) const;
};

// One node's level in each measurement, as the split reads it: a figure or
// a ratio, NaN where it has none.
struct NodeLevel {
  std::string node;
  double level[MEASUREMENT_COUNT];
};

// The kinds the nodes' levels fall into, in the judged measurements, named
// "kind 1", "kind 2", ... from the fastest; empty when they are one kind.
// A node with no level in the measurement that split them joins the larger
// side.
Grouping kinds_of(const std::vector<NodeLevel>& nodes, const bool judged[MEASUREMENT_COUNT], GroupSource source);

// The declared groups as they apply to a run of these nodes: each node a
// group names in that group, the others in none; a group that holds no node
// of the run is left out.
Grouping declared_grouping(const std::vector<DeclaredGroup>& declared, const std::vector<std::string>& run_nodes);

// What a run's verdict says of a group it used.
struct GroupReport {
  NodeGroup group;
  std::vector<std::string> nodes;                 // of the run, in the verdict's order
  double median[MEASUREMENT_COUNT];               // of its nodes' figures
  double to_largest[MEASUREMENT_COUNT];           // median / the largest group's median
  double spread[MEASUREMENT_COUNT];               // robust spread of its nodes' figures, a share of the median
  bool largest = false;
  bool apart = false;                             // found, not declared, and not the largest
  bool too_small = false;                         // fewer than MIN_COMPARED_NODES nodes: not judged
};
