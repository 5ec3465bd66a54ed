// The limit on open files. Over TCP, rank 0 holds a connection, a
// descriptor, to every other rank: a job of thousands of ranks needs more
// than the 1,024 many login shells hand on to their jobs.
#pragma once

#include <cstdint>
#include <string>

// Descriptors rank 0 needs beside one per peer: MPI's own (its launcher's
// and its shared memory), standard streams, the result file and one
// scratch file at a time.
constexpr std::uint64_t OPEN_FILES_BESIDES_PEERS = 64;

// Raises this process's soft limit on open files to its hard limit, which
// only opens the way for more; the limit now in force (0: none).
std::uint64_t raise_open_file_limit();

// Descriptors rank 0 keeps free beside its peers' when it cannot hold one
// for every peer: its own files and MPI's short-lived ones.
constexpr int RANK0_SPARE_FILES = 16;

// How many descriptors this process holds now.
int open_descriptors();

// How many workers rank 0 can hold a connection to: all of them, unless a
// peer's connection costs it a descriptor (`per_peer`, as over Open MPI's
// TCP transport, not UCX's) and `limit` (0: none) leaves room for fewer
// beside the `open_now` descriptors it has.
int workers_rank0_can_hold(std::uint64_t limit, int ranks, int open_now, bool per_peer);

// Rank 0's one-line warning when `limit` (0: none) is below what a job of
// `ranks` ranks over TCP needs, else an empty text. Fabrics that need no
// descriptor per peer are not held back by it, so it says "if".
std::string open_file_warning(std::uint64_t limit, int ranks);
