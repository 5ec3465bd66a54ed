// Every count, size and capacity of the benchmark, in one place.
//
// The shipped binary always carries the values below. Builds for tests and
// for the benchmark scripts (never installed) divide every count and size by
// STELVANE_SIZE_DIVISOR and may set another rank capacity with
// STELVANE_MAX_RANKS; CMakeLists.txt lists them.
#pragma once

#include <cstdint>

#ifndef STELVANE_SIZE_DIVISOR
#define STELVANE_SIZE_DIVISOR 1
#endif
#ifndef STELVANE_MAX_RANKS
#define STELVANE_MAX_RANKS 4096
#endif

// 1 in the shipped binary.
inline constexpr std::uint64_t SIZE_DIVISOR = STELVANE_SIZE_DIVISOR;

// Capacity of every per-rank table and stream pool: the largest job.
inline constexpr int MAX_RANKS = STELVANE_MAX_RANKS;

// Create/open/close/remove cycles of one file-handling measurement (2^17).
inline constexpr std::uint64_t FILE_HANDLING_CYCLES = 131072 / SIZE_DIVISOR;

// First-pass length of the byte-wise workload, and so the size of its files (2^24).
inline constexpr std::uint64_t BYTEWISE_FILE_BYTES = 16777216 / SIZE_DIVISOR;

static_assert(131072 % SIZE_DIVISOR == 0 && FILE_HANDLING_CYCLES > 0, "the divisor must be a power of two up to 2^17");

// The only byte value the byte-wise workload ever writes.
inline constexpr char FILL_BYTE = 0x0B;

// Pass divisor of rank 0's single-process phases: its second pass moves half the file.
inline constexpr std::uint64_t SINGLE_PROCESS_PASS_DIVISOR = 2;

// "Millions" figures divide a rate by this.
inline constexpr double MILLION = 1000000.0;

// 1/1024: "MB/sec." figures apply it twice, so one MB is 1,048,576 bytes.
inline constexpr double MB_FACTOR = 0.0009765625;

// Capacity of a processor name, as MPI reports it, with its terminator.
inline constexpr int PROC_NAME_BYTES = 256;

// Capacity of a scratch-file name buffer.
inline constexpr int SCRATCH_NAME_BYTES = 4096;

// Capacity of the result-file name and of its full path.
inline constexpr int RESULT_NAME_BYTES = 1024;
inline constexpr int RESULT_PATH_BYTES = 2048;

// How long rank 0 waits for a worker's report of a measurement: until
// ANSWER_FACTOR times the latest time, counted from when the ranks began to
// measure, at which any rank (rank 0 included) had that measurement done,
// plus ANSWER_MARGIN_SECONDS for ranks that start late. A node 20 times slower than
// its peers is still measured; a node that stops answering is given up.
#ifndef STELVANE_ANSWER_FACTOR
#define STELVANE_ANSWER_FACTOR 30
#endif
#ifndef STELVANE_ANSWER_MARGIN_SECONDS
#define STELVANE_ANSWER_MARGIN_SECONDS 60
#endif
inline constexpr double ANSWER_FACTOR = STELVANE_ANSWER_FACTOR;
inline constexpr double ANSWER_MARGIN_SECONDS = STELVANE_ANSWER_MARGIN_SECONDS;

// How long rank 0, ending with a failed measurement, lets the workers leave
// first: their work is done, and they must be gone with status 0 before its
// non-zero status reaches the launcher, which then ends every rank still
// running (mpirun, hydra). A worker leaves within milliseconds of the end.
// Rank 0 ending a job with lost workers gives its own output as long to
// reach the launcher before any rank aborts.
inline constexpr double END_GRACE_SECONDS = 2.0;
