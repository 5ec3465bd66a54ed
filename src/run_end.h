// How each rank leaves the run, in one place: when it may go, who ends the
// job and with which status. The exchange beneath carries the words; the
// decisions are here.
#pragma once

// Exit statuses beyond 0.
inline constexpr int EXIT_FAILED_MEASUREMENT = 1;  // a measurement failed, or the results were not saved
inline constexpr int EXIT_TOO_MANY_RANKS = 2;      // the job is larger than the rank tables
inline constexpr int EXIT_CUT_SHORT = 3;           // a worker gave no answer, or the job was being ended

// Rank 0 or a worker, once its part of the run is done (rank 0's report
// saved): waits for the others as the rules below say, finalizes MPI, and
// returns the status to exit with; or ends the job and does not return.
int leave_the_run();

// A worker that rank 0 gave up from the start, as it could not hold its
// connection: it sent nothing, and rank 0 ends the job.
int leave_unheard();
