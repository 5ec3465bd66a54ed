// Hooks that only the test-size binary carries; in the shipped binary they
// are empty and vanish. They let end-to-end tests slow one worker down
// (STELVANE_TEST_DELAY_RANK, STELVANE_TEST_DELAY_MS), and take away one
// rank's block input (STELVANE_TEST_REMOVE_BLOCK_INPUT=rank) or give it
// another size (STELVANE_TEST_BLOCK_INPUT_SIZE=rank:bytes).
#pragma once

#ifdef STELVANE_TEST_HOOKS
void test_hook_slow_worker(int rank);
void test_hook_before_block_workload(int rank, const char* block_input);
#else
inline void test_hook_slow_worker(int) {}
inline void test_hook_before_block_workload(int, const char*) {}
#endif
