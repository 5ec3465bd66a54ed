// Every count, size and capacity of the benchmark, in one place.
//
// The shipped binary always carries the values below. A test-only build
// (STELVANE_TEST_SIZES, binary stelvane-mpi-testsize) shrinks the workloads by
// TEST_SIZE_SHRINK and the rank capacity to 8, so that end-to-end tests run in
// seconds and can reach the rank limit.
#pragma once

#include <cstdint>

#ifdef STELVANE_TEST_SIZES
inline constexpr std::uint64_t TEST_SIZE_SHRINK = 256;  // 2^8: seconds instead of minutes
inline constexpr int MAX_RANKS = 8;                     // small enough to start one over it
#else
inline constexpr std::uint64_t TEST_SIZE_SHRINK = 1;
inline constexpr int MAX_RANKS = 4096;  // capacity of every per-rank table and stream pool
#endif

// Create/open/close/remove cycles of one file-handling measurement (2^17).
inline constexpr std::uint64_t FILE_HANDLING_CYCLES = 131072 / TEST_SIZE_SHRINK;

// First-pass length of the byte-wise workload, and so the size of its files (2^24).
inline constexpr std::uint64_t BYTEWISE_FILE_BYTES = 16777216 / TEST_SIZE_SHRINK;

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
