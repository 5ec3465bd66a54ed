// Names of the scratch files. Rank 0's are fixed; a worker's carry its rank
// and processor name, so ranks that share a node and a directory never share
// a file: rank 3 on node7 uses "data64-sparc-3 @node7.tmp".
#pragma once

#include <cstddef>
#include <cstdio>

#include "../sizes.h"

inline constexpr const char* STREAMS_SINGLE_SCRATCH = "data64-sparc-low.tmp";
inline constexpr const char* DESCRIPTORS_SINGLE_SCRATCH = "data64-sparc-high.tmp";
inline constexpr const char* BYTEWISE_SINGLE_FILE = "data64-sparc-single.tmp";
inline constexpr const char* BLOCK_SINGLE_OUTPUT = "data64-sparc-single";

// A worker's scratch name with ".tmp", bounded by the buffer.
inline void format_worker_scratch_name(char* out, std::size_t capacity, int rank, const char* processor) {
  std::snprintf(out, capacity, "%s%d%s%s%s", "data64-sparc-", rank, " @", processor, ".tmp");
}

// A worker's block output name: the same without an extension.
inline void format_worker_block_name(char* out, std::size_t capacity, int rank, const char* processor) {
  std::snprintf(out, capacity, "%s%d%s%s", "data64-sparc-", rank, " @", processor);
}

// Where a measurement gets its file name: call() yields the name to use (a
// worker formats it there, inside the timed span, so the formatting is part
// of what a worker's figure measures); text() yields it afterwards for a
// failure line.
struct FixedName {
  const char* name;
  const char* operator()() const { return name; }
  const char* text() const { return name; }
};

// A worker's name, formatted into `buffer` by `format`.
struct WorkerName {
  void (*format)(char* out, std::size_t capacity, int rank, const char* processor);
  char* buffer;  // SCRATCH_NAME_BYTES
  int rank;
  const char* processor;
  const char* operator()() const {
    format(buffer, SCRATCH_NAME_BYTES, rank, processor);
    return buffer;
  }
  const char* text() const { return buffer; }
};
