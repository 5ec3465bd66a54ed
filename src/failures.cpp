#include "failures.h"

#include <cstring>
#include <iostream>

#include "report.h"

namespace {
bool any_failure = false;
}

std::string failure_detail(const OpFailures& failures, std::uint64_t attempted, const char* operations) {
  const std::string reason =
      failures.first_errno != 0 ? std::strerror(failures.first_errno) : failures.first_cause;
  if (attempted <= 1) return reason;
  return line(failures.count, " of ", attempted, " ", operations, " failed, first: ", reason);
}

std::string failure_line(int rank, const char* processor, const char* measurement, const char* file,
                         const std::string& detail) {
  return line("stelvane-mpi: rank ", rank, " (", processor, "): ", measurement, " failed on \"", file,
              "\": ", detail);
}

void report_failure(int rank, const char* processor, const char* measurement, const char* file,
                    const std::string& detail) {
  std::cerr << failure_line(rank, processor, measurement, file, detail) << std::endl;
  mark_run_failed();
}

void mark_run_failed() { any_failure = true; }

bool run_failed() { return any_failure; }
