#include "failures.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "report_lines.h"

namespace {
bool any_failure = false;
}

std::string failure_detail(const OpFailures& failures, std::uint64_t attempted, const char* operations) {
  const std::string reason =
      failures.first_errno != 0 ? std::strerror(failures.first_errno) : failures.first_cause;
  if (attempted <= 1) return reason;
  return line(failures.count, " of ", attempted, " ", operations, " failed, first: ", reason);
}

std::string rank_prefix(int rank, const char* processor) {
  return line("stelvane-mpi: rank ", rank, " (", processor, ")");
}

namespace {
std::string worker_prefix(int rank, const std::string& node) {
  return node.empty() ? line("stelvane-mpi: rank ", rank) : rank_prefix(rank, node.c_str());
}
}  // namespace

std::string no_answer_line(int rank, const std::string& node, const char* measurement, const std::string& why) {
  return line(worker_prefix(rank, node), NO_ANSWER_WORDS, measurement, " ", why, NO_ANSWER_END);
}

std::string not_at_the_end_line(int rank, const std::string& node, double seconds) {
  return line(worker_prefix(rank, node), ": did not come to the end of the run within ", seconds,
              " s of the report's end; the job is ended, and its figures are all in the report");
}

std::string failure_line(int rank, const char* processor, const char* measurement, const char* file,
                         const std::string& detail) {
  return line(rank_prefix(rank, processor), ": ", measurement, " failed on \"", file, "\": ", detail);
}

void write_error_line(const std::string& text) {
  const std::string whole = text + "\n";
  std::size_t written = 0;
  while (written < whole.size()) {
    const ssize_t count = write(STDERR_FILENO, whole.data() + written, whole.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;  // standard error is gone: nowhere left to say it
    written += static_cast<std::size_t>(count);
  }
}

void report_failure(int rank, const char* processor, const char* measurement, const char* file,
                    const std::string& detail) {
  write_error_line(failure_line(rank, processor, measurement, file, detail));
  mark_run_failed();
}

void mark_run_failed() { any_failure = true; }

bool run_failed() { return any_failure; }
