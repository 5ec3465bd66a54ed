// Rank 0's collection reports: for each workload, the workers' figures of
// each of its measurements in rank order, then the cluster summary. Rank 0
// takes each worker's report as it comes and gives up a worker that does not
// answer in time (see WorkerAnswers), so that one lost node never costs the
// others' figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../measurements.h"

// Rank 0, before it measures: takes the greeting of every worker that
// reports to it, or as many as come within the margin for late starters, so
// that a worker lost later is named with its node. The workers begin to
// measure as their greetings leave, so the time by which each must answer
// counts from here. Workers above `reporting` are given up at once: rank 0
// could not hold their connections within its `open_file_limit`.
void take_greetings(int reporting, std::uint64_t open_file_limit);

void collection_report(Workload workload);

// Whether rank 0 gave up any worker, and the workers it did not give up.
bool workers_lost();
std::vector<int> answering_workers();

// The node a worker greeted with (empty when it never did).
const std::string& node_of_worker(int worker);
