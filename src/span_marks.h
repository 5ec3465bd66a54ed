// Marks around the operations of a timed span, for counting what a span does
// (bench/count). Only builds for tests and benchmarks carry them, and they
// act only when STELVANE_SPAN_MARKS is set; in the shipped binary they are
// empty and vanish.
//
// A mark is an access() of a name that says which span begins or ends
// ("stelvane-span-begin:streams"), which strace shows among the span's own
// system calls; between the two marks callgrind collects, and at the end it
// writes what it collected, named after the span. The benchmark and the
// bare reference mark their spans alike, so that both are counted alike.
#pragma once

#if defined(STELVANE_TEST_HOOKS) && __has_include(<valgrind/callgrind.h>)
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>

inline bool span_marks_on() {
  static const bool on = std::getenv("STELVANE_SPAN_MARKS") != nullptr;
  return on;
}

inline void span_mark(const char* edge, const char* key) {
  char mark[128];
  std::snprintf(mark, sizeof mark, "stelvane-span-%s:%s", edge, key);
  (void)access(mark, F_OK);
}

inline void span_begin(const char* key) {
  if (!span_marks_on()) return;
  span_mark("begin", key);
  CALLGRIND_TOGGLE_COLLECT;
}

inline void span_end(const char* key) {
  if (!span_marks_on()) return;
  CALLGRIND_TOGGLE_COLLECT;
  span_mark("end", key);
  CALLGRIND_DUMP_STATS_AT(key);
}
#else
inline void span_begin(const char*) {}
inline void span_end(const char*) {}
#endif
