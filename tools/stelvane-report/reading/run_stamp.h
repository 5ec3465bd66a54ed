// What a result file's name says of its run, and runs put in the order they
// started. The benchmark names each result file by its start, so the name is
// the one time stamp a run carries.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

// Empty when the file has another name, or came from standard input.
struct RunStamp {
  std::string time_stamp;  // the start time, local to the run: 2026-12-07T01:17:13
  std::string time_zone;   // as the name gives it: UTC, CET
  std::string rank0_node;  // rank 0's processor name
};

// The last component of a path.
std::string file_name_of(const std::string& path);

// Reads the stamp out of a path whose file name the benchmark made.
RunStamp stamp_of(const std::string& path);

// Whether every run has a time stamp to be ordered by. `stamp` gives a run's
// RunStamp.
template <typename Run, typename StampOf>
bool all_stamped(const std::vector<Run>& runs, StampOf stamp) {
  return std::all_of(runs.begin(), runs.end(), [&](const Run& run) { return !stamp(run).time_stamp.empty(); });
}

// Orders runs by their start, oldest first, when every one has a time
// stamp; else leaves them in the order given, and says so with false.
template <typename Run, typename StampOf>
bool order_by_start(std::vector<Run>& runs, StampOf stamp) {
  if (!all_stamped(runs, stamp)) return false;
  std::stable_sort(runs.begin(), runs.end(),
                   [&](const Run& a, const Run& b) { return stamp(a).time_stamp < stamp(b).time_stamp; });
  return true;
}

// The run that started last (the last given among equals to it); the last
// given when some run has no time stamp. `runs` must not be empty.
template <typename Run, typename StampOf>
const Run& latest_by_start(const std::vector<Run>& runs, StampOf stamp) {
  const Run* latest = &runs.back();
  if (all_stamped(runs, stamp))
    for (const Run& run : runs)
      if (stamp(run).time_stamp > stamp(*latest).time_stamp) latest = &run;
  return *latest;
}
