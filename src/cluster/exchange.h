// The result report: after each measurement a worker sends rank 0 four
// messages (its figure table, its seconds table, its processor name, its rank
// table), all with tag 0. Rank 0 receives them from one named source at a
// time, so matching rests on the order of sends alone.
#pragma once

#include "measurement.h"

// Worker: sends the first nproc entries of the measurement's tables.
void send_result_report(const Measurement& measurement);

// Rank 0: receives worker `source`'s report into the receive tables, stores
// exactly the characters of the name that arrived in names[source].
void receive_result_report(const Measurement& measurement, int source);

// Rank 0: receives every worker's report in rank order, adds each figure to
// the cluster total, prints each worker's lines before the next receive, and
// forms the per-thread average after the last.
void collect_from_workers(const Measurement& measurement);
