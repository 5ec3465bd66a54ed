// Falls that several nodes share.
//
// A rack whose cooling fails, a power cap on one PDU, a firmware, a kernel or
// a tuned profile rolled out to part of the fleet: many nodes fall at once,
// each below its own normal (own_normal.h). One node in a low run may be a
// backup or a stray job, and one run is not enough to name it; but chance
// does not bring several nodes down together by one same factor, so such a
// fall is named in the run it happens, as one, and its nodes are slow.
//
// The nodes in a low run against their own normal are sorted by how far they
// fell (the median of their level over their normal in the measurements they
// are low in); neighbours less than FALL_GAP apart (in logarithms) fell
// together, and at least MIN_FALL_NODES of them make a shared fall: as many as
// make a kind (groups.h), since a group of alike nodes in one run is what the
// kinds seen in a run would otherwise have taken for one.
#pragma once

#include <string>
#include <vector>

#include "judging/causes.h"
#include "judging/groups.h"

inline constexpr int MIN_FALL_NODES = MIN_KIND_NODES;
inline constexpr double FALL_GAP = 0.1;

struct SharedFall {
  std::vector<std::string> nodes;       // from the furthest fallen
  double deviation[MEASUREMENT_COUNT];  // median over its nodes of level / own normal
  bool in[MEASUREMENT_COUNT] = {};      // judged, and most of its nodes low there
  bool everywhere = false;              // in every judged measurement its nodes have a normal in
  double fell_to = 0;                   // median of its deviations where it fell
  Cause cause = Cause::none;            // the commonest of its nodes'
  std::string group;                    // the group all its nodes are in; empty when none or several
  std::size_t group_nodes = 0;          // of that group
};

struct Verdicts;
// Finds the shared falls of a run held against its history, makes their
// nodes slow by their own normal, and gives each its cause.
void find_shared_falls(Verdicts& verdicts);
