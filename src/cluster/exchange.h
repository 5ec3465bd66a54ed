// The result messages: after each measurement a worker sends rank 0 four
// messages (its figure table, its seconds table, its processor name, its rank
// table), all with tag 0. Rank 0 receives them from one named source at a
// time, so matching rests on the order of sends alone.
#pragma once

#include <string>

// Worker: sends the first nproc entries of its figure and seconds tables,
// its processor name and its rank table.
void send_result_messages(const double* results, const double* spent);

// Rank 0: receives worker `source`'s messages into the receive tables and
// iprocs_temp; `name` gets exactly the characters of the name that arrived.
void receive_result_messages(int source, double* results_temp, double* spent_temp, std::string& name);
