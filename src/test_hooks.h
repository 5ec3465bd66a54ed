// Hooks that only the builds for tests and benchmarks carry; in the shipped
// binary they are empty and vanish. They let end-to-end tests slow one
// rank down (STELVANE_TEST_DELAY_RANK, STELVANE_TEST_DELAY_MS, and a file
// STELVANE_TEST_DELAY_FLAG written with the number of the measurement as each
// slowed one starts) or hold it in its second measurement for as long as a
// file STELVANE_TEST_HOLD_FILE exists, take away
// one rank's block input (STELVANE_TEST_REMOVE_BLOCK_INPUT=rank) or give it
// another size (STELVANE_TEST_BLOCK_INPUT_SIZE=rank:bytes), and let the
// cost-of-scale benchmark see rank 0's timeline and every rank's peak memory
// (STELVANE_TEST_MARKS=1: "stelvane-mark RANK EVENT VALUE..." lines on
// standard error: for an event, the time in seconds since the epoch and the
// process's CPU seconds so far; for peak_kb, the peak resident memory).
// A worker marks "at_the_end" once its last report has left;
// STELVANE_TEST_STOP_AT_END=rank stops that worker (SIGSTOP) then, as a
// process that hangs at the end of the run.
// STELVANE_TEST_PROGRESS_BEFORE_COUNT_MS=ms keeps rank 0 making MPI progress
// that long before it counts its descriptors for the first word, so that a
// connection a peer opened early is accepted before the count; with the
// marks on, rank 0 marks "descriptors_counted BEFORE AFTER" once it has.
// STELVANE_TEST_LINGER_AFTER_FINALIZE=rank keeps that rank after
// MPI_Finalize, as a slow exit, until rank 0's grace has begun and a quarter
// of it more (0.5 s of 2 s); rank 0 creates the file
// STELVANE_TEST_GRACE_FLAG as its grace begins.
#pragma once

#ifdef STELVANE_TEST_HOOKS
void test_hook_slow_worker(int rank);
void test_hook_before_block_workload(int rank, const char* block_input);
void test_hook_mark(const char* event, double mpi_time);  // the wall-clock time of an MPI_Wtime reading
void test_hook_peak_memory();
void test_hook_at_the_end(int rank);
void test_hook_before_descriptor_count();
void test_hook_descriptors_counted(int before, int after);
void test_hook_grace_begins();
void test_hook_after_finalize(int rank);
#else
inline void test_hook_slow_worker(int) {}
inline void test_hook_before_block_workload(int, const char*) {}
inline void test_hook_mark(const char*, double) {}
inline void test_hook_peak_memory() {}
inline void test_hook_at_the_end(int) {}
inline void test_hook_before_descriptor_count() {}
inline void test_hook_descriptors_counted(int, int) {}
inline void test_hook_grace_begins() {}
inline void test_hook_after_finalize(int) {}
#endif
