#include "open_files.h"

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>

#include "report_lines.h"

int open_descriptors() {
  int count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
    count -= 3;  // ".", ".." and the folder's own descriptor
  }
  return std::max(count, 0);
}

int workers_rank0_can_hold(std::uint64_t limit, int ranks, int open_now, bool per_peer) {
  const int workers = ranks - 1;
  if (!per_peer || limit == 0 || limit >= static_cast<std::uint64_t>(workers) + OPEN_FILES_BESIDES_PEERS)
    return workers;
  const long room = static_cast<long>(limit) - open_now - RANK0_SPARE_FILES;
  return static_cast<int>(std::clamp<long>(room, 0, workers));
}

std::uint64_t raise_open_file_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? 0 : static_cast<std::uint64_t>(limit.rlim_cur);
}

std::string open_file_warning(std::uint64_t limit, int ranks) {
  const std::uint64_t needed = static_cast<std::uint64_t>(ranks - 1) + OPEN_FILES_BESIDES_PEERS;
  if (limit == 0 || limit >= needed) return {};
  return line("stelvane-mpi: rank 0 may open ", limit, " files (its hard limit), but over TCP a job of ", ranks,
              " ranks needs about ", needed, " (one connection to each other rank, and ", OPEN_FILES_BESIDES_PEERS,
              " more); if this job runs over TCP, raise the limit before the job starts (ulimit -n, or Slurm's "
              "PropagateResourceLimits)");
}
