// The signals by which a launcher or a scheduler ends a job (SIGTERM: a time
// limit, scancel, mpirun --timeout, a dead rank under Open MPI; SIGINT;
// SIGUSR1, Slurm's --signal warning before the limit). On rank 0 they only
// set a flag: rank 0 then stops waiting for its workers, saves what it has
// and ends the job. The kill that follows comes about a second later.
// Under MPICH's hydra SIGUSR1 is not one of them: hydra sends it to every
// process when one dies (with -disable-auto-cleanup), news that the rule
// for late answers handles, while the others go on measuring.
#pragma once

// Rank 0: from here on the signals above only set the flag; under hydra
// SIGUSR1 is ignored.
void catch_stop_signals();

// A worker: SIGUSR1 is only a warning (Slurm's, or MPICH's notice that
// another rank failed) and must not end it; rank 0 decides.
void ignore_warning_signal();

// Whether one of them has arrived, and which (for the lines that say so).
bool stop_requested();
const char* stop_signal_name();

// Whether it was one by which the launcher is ending the whole job
// (SIGTERM, SIGINT) rather than a warning (SIGUSR1).
bool job_being_ended();

// Ends this process by the signal that arrived, as the launcher meant it to
// end: a launcher that is ending the job waits for exactly that, and takes
// an MPI_Abort instead for a new end to wait for, one that a node it can no
// longer reach never reports.
[[noreturn]] void end_by_stop_signal();
