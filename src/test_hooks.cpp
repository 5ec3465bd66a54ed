#include "test_hooks.h"

#include "sizes.h"

#ifdef STELVANE_TEST_HOOKS
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <mpi.h>
#include <sys/resource.h>
#include <unistd.h>

#include "failures.h"
#include "open_files.h"
#include "sizes.h"
#include "report_lines.h"

namespace {
bool names_rank(const char* variable, int rank) {
  const char* value = std::getenv(variable);
  return value != nullptr && std::atoi(value) == rank;
}

bool marking() { return std::getenv("STELVANE_TEST_MARKS") != nullptr; }

int own_rank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}
}  // namespace

void test_hook_mark(const char* event, double mpi_time) {
  if (!marking()) return;
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  char values[64];
  std::snprintf(values, sizeof values, "%.6f %.6f", now - (MPI_Wtime() - mpi_time), cpu);
  write_error_line(line("stelvane-mark ", own_rank(), " ", event, " ", values));
}

void test_hook_peak_memory() {
  if (!marking()) return;
  std::ifstream status("/proc/self/status");
  for (std::string text; std::getline(status, text);)
    if (text.rfind("VmHWM:", 0) == 0)
      write_error_line(line("stelvane-mark ", own_rank(), " peak_kb ", std::atol(text.c_str() + 6)));
  write_error_line(line("stelvane-mark ", own_rank(), " descriptors ", open_descriptors()));
}

void test_hook_slow_worker(int rank) {
  if (!names_rank("STELVANE_TEST_DELAY_RANK", rank)) return;
  static int measurements_begun = 0;
  ++measurements_begun;
  // Tells a test that this rank is measuring now, and in which measurement.
  if (const char* flag = std::getenv("STELVANE_TEST_DELAY_FLAG")) {
    if (std::FILE* file = std::fopen(flag, "w")) {
      std::fprintf(file, "%d\n", measurements_begun);
      std::fclose(file);
    }
  }
  const char* delay = std::getenv("STELVANE_TEST_DELAY_MS");
  std::this_thread::sleep_for(std::chrono::milliseconds(delay ? std::atoi(delay) : 1000));
  // Held from the second measurement on, its first answered, for as long as
  // the test keeps the file.
  const char* hold = std::getenv("STELVANE_TEST_HOLD_FILE");
  while (hold != nullptr && measurements_begun >= 2 && access(hold, F_OK) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void test_hook_at_the_end(int rank) {
  test_hook_mark("at_the_end", MPI_Wtime());
  if (names_rank("STELVANE_TEST_STOP_AT_END", rank)) std::raise(SIGSTOP);
}

void test_hook_before_descriptor_count() {
  const char* milliseconds = std::getenv("STELVANE_TEST_PROGRESS_BEFORE_COUNT_MS");
  if (milliseconds == nullptr) return;
  // Probing makes progress: Open MPI accepts a waiting connection in it.
  const double until = MPI_Wtime() + std::atoi(milliseconds) / 1000.0;
  int arrived = 0;
  while (MPI_Wtime() < until) MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &arrived, MPI_STATUS_IGNORE);
}

void test_hook_descriptors_counted(int before, int after) {
  if (marking()) write_error_line(line("stelvane-mark 0 descriptors_counted ", before, " ", after));
}

void test_hook_grace_begins() {
  if (const char* flag = std::getenv("STELVANE_TEST_GRACE_FLAG"))
    if (std::FILE* file = std::fopen(flag, "w")) std::fclose(file);
}

// Waits for rank 0's grace to begin, then a quarter of it: a worker that
// leaves only while rank 0 is waiting for it. Counted from rank 0's grace
// and not from this rank's own MPI_Finalize, it leaves within the grace
// however late a loaded machine lets either rank out of MPI_Finalize; under
// mpirun, a rank 0 that never waits has it killed, every time. The bound
// keeps such a job from hanging under a launcher that lets the worker run
// on after rank 0's status (hydra).
void test_hook_after_finalize(int rank) {
  if (!names_rank("STELVANE_TEST_LINGER_AFTER_FINALIZE", rank)) return;
  const char* flag = std::getenv("STELVANE_TEST_GRACE_FLAG");
  for (int waited_ms = 0; flag != nullptr && access(flag, F_OK) != 0 && waited_ms < 60000; waited_ms += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::duration<double>(0.25 * END_GRACE_SECONDS));
}

void test_hook_before_block_workload(int rank, const char* block_input) {
  if (names_rank("STELVANE_TEST_REMOVE_BLOCK_INPUT", rank)) std::remove(block_input);
  const char* resize = std::getenv("STELVANE_TEST_BLOCK_INPUT_SIZE");
  if (resize != nullptr && names_rank("STELVANE_TEST_BLOCK_INPUT_SIZE", rank)) {
    const char* size = std::strchr(resize, ':');
    if (size != nullptr && truncate(block_input, std::atoll(size + 1)) != 0) std::perror(block_input);
  }
}
#endif
