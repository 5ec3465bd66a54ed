// Rank 0's collection reports: for each workload, the workers' figures of
// each of its measurements in rank order, then the cluster summary. Rank 0
// takes each worker's report as it comes and gives up a worker that does not
// answer in time (see WorkerAnswers), so that one lost node never costs the
// others' figures.
#pragma once

#include <vector>

#include "../measurements.h"

// Before anything is measured: the run's start on rank 0's clock.
void begin_collecting(double run_start);

void collection_report(Workload workload);

// Whether rank 0 gave up any worker, and the workers it did not give up.
bool workers_lost();
std::vector<int> answering_workers();
