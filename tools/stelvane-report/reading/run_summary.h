// What one run said of each node: all a node's history needs of it, and what
// a history folder's index keeps of each result file.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "measurements.h"
#include "reading/run_stamp.h"

// A node's verdict, from best to worst news. The index stores it as its
// number, so the order stays.
enum class Verdict { ok, suspect, slow, failed };
inline constexpr int VERDICT_COUNT = 4;

struct RunSummary {
  struct Node {
    std::string name;
    int workers = 0;
    Verdict verdict = Verdict::ok;      // by its peers, in that run
    double ratios[MEASUREMENT_COUNT];   // NaN where not compared
    double figures[MEASUREMENT_COUNT] = {NAN, NAN, NAN, NAN, NAN, NAN};  // the median of its ranks' figures
  };
  std::string source;
  RunStamp stamp;
  bool judged[MEASUREMENT_COUNT] = {};  // long enough to count
  std::vector<Node> nodes;
};
