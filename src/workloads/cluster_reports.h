// Rank 0's collection reports: for each workload, the workers' figures of
// each of its measurements in rank order, then the cluster summary.
#pragma once

#include "../measurements.h"

void collection_report(Workload workload);
