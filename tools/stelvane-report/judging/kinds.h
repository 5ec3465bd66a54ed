// Each node against the others of its kind (groups.h).
#pragma once

#include <vector>

#include "judging/groups.h"
#include "judging/node_verdict.h"

// The groups a run's nodes are judged in: the declared ones when given, else
// the kinds their figures fall into.
Grouping grouping_of(const Verdicts& verdicts, const std::vector<DeclaredGroup>* declared);

// Each node's ratio and line against the others of its group (against every
// node alike for a trivial grouping, as without groups), its lows, its
// verdict by its peers, and the groups' figures.
void judge_by_kind(Verdicts& verdicts, const Grouping& grouping);

// A node's verdict by its peers from its lows and failures alone.
Verdict peer_verdict(const NodeVerdict& node);
// Every node's verdict by its peers; a node slow for a kind seen in the run
// but no slower than the kind below is only suspect, and between kinds.
void read_peer_verdicts(Verdicts& verdicts);
