// The four workloads and six measurements of a run, in the order every run
// performs and reports them, with the names people and tools know them by.
// Free of MPI: the benchmark, stelvane-report and the reference of the
// benchmark script all take their names from here.
#pragma once

enum class Workload { streams, descriptors, bytewise, block };

// Rank 0's single-process phases, the workers' shares and rank 0's collection
// reports all follow this order.
inline constexpr Workload WORKLOAD_ORDER[] = {Workload::streams, Workload::descriptors, Workload::bytewise,
                                              Workload::block};

enum MeasurementId { STREAMS, DESCRIPTORS, BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_READ, BLOCK_WRITE };
inline constexpr int MEASUREMENT_COUNT = 6;

struct MeasurementInfo {
  const char* key;    // for tools: streams, descriptors, bytewise_write, ...
  const char* name;   // in failure lines: "byte-wise write"
  const char* title;  // for people: "Byte-wise write"
  const char* unit;   // of its figure: files/s, accesses/s, bytes/s
};

// Indexed by MeasurementId, so in the order of a run.
inline constexpr MeasurementInfo MEASUREMENTS[MEASUREMENT_COUNT] = {
    {"streams", "file handling through streams", "File handling through streams", "files/s"},
    {"descriptors", "file handling through descriptors", "File handling through descriptors", "files/s"},
    {"bytewise_write", "byte-wise write", "Byte-wise write", "accesses/s"},
    {"bytewise_read", "byte-wise read", "Byte-wise read", "accesses/s"},
    {"block_read", "block read", "Block read", "bytes/s"},
    {"block_write", "block write", "Block write", "bytes/s"},
};

// The measurements of a workload, in the order it makes them; a
// file-handling workload has one, second == first.
struct WorkloadMeasurements {
  MeasurementId first;
  MeasurementId second;
  constexpr int count() const { return first == second ? 1 : 2; }
  constexpr MeasurementId at(int index) const { return index == 0 ? first : second; }
  // A transfer workload's summaries give writing first, whichever it measured first.
  constexpr bool writes_first() const { return first == BYTEWISE_WRITE || first == BLOCK_WRITE; }
  constexpr MeasurementId write() const { return writes_first() ? first : second; }
  constexpr MeasurementId read() const { return writes_first() ? second : first; }
};

inline constexpr WorkloadMeasurements measurements_of(Workload workload) {
  switch (workload) {
    case Workload::streams: return {STREAMS, STREAMS};
    case Workload::descriptors: return {DESCRIPTORS, DESCRIPTORS};
    case Workload::bytewise: return {BYTEWISE_WRITE, BYTEWISE_READ};  // writes, then reads its file back
    case Workload::block: return {BLOCK_READ, BLOCK_WRITE};           // reads the byte-wise file, then writes it out
  }
  return {STREAMS, STREAMS};
}

inline constexpr bool is_file_handling(MeasurementId id) { return id == STREAMS || id == DESCRIPTORS; }
