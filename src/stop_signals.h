// The signals by which a launcher or a scheduler ends a job (SIGTERM: a time
// limit, scancel, mpirun --timeout, a dead rank under Open MPI; SIGINT;
// SIGUSR1, Slurm's --signal warning before the limit). On rank 0 they only
// set a flag: rank 0 then stops waiting for its workers, saves what it has
// and ends the job. The kill that follows comes about a second later.
#pragma once

// Rank 0: from here on the signals above only set the flag.
void catch_stop_signals();

// A worker: SIGUSR1 is only a warning (Slurm's, or MPICH's notice that
// another rank failed) and must not end it; rank 0 decides.
void ignore_warning_signal();

// Whether one of them has arrived, and which (for the lines that say so).
bool stop_requested();
const char* stop_signal_name();
