#include "test_hooks.h"

#ifdef STELVANE_TEST_HOOKS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <unistd.h>

namespace {
bool names_rank(const char* variable, int rank) {
  const char* value = std::getenv(variable);
  return value != nullptr && std::atoi(value) == rank;
}
}  // namespace

void test_hook_slow_worker(int rank) {
  if (!names_rank("STELVANE_TEST_DELAY_RANK", rank)) return;
  const char* delay = std::getenv("STELVANE_TEST_DELAY_MS");
  std::this_thread::sleep_for(std::chrono::milliseconds(delay ? std::atoi(delay) : 1000));
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
