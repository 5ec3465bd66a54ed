// stelvane-report: the slow-node rule on constructed figures, and the
// number grammar.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "analysis.h"
#include "result_reader.h"

namespace {
MeasurementFigures workers_with(const std::vector<double>& figures) {
  MeasurementFigures m;
  int rank = 1;
  for (double figure : figures) {
    m.workers.push_back({rank, std::to_string(rank), 1.0, figure});
    ++rank;
  }
  return m;
}

std::vector<int> slow_ranks(const std::vector<double>& figures) {
  const MeasurementFigures m = workers_with(figures);
  std::vector<int> ranks;
  for (const WorkerFigures* worker : spread_of(m).slow) ranks.push_back(worker->rank);
  return ranks;
}
}  // namespace

TEST(SlowNodes, FarBelowTheMedianAndBelowHalfOfIt) {
  EXPECT_EQ(slow_ranks({100, 101, 99, 100, 102, 20}), std::vector<int>{6});
  EXPECT_EQ(slow_ranks({100, 101, 99, 100, 102, 103}), std::vector<int>{});
  // Far below by z-score but above half the median: not slow.
  EXPECT_EQ(slow_ranks({100, 100.1, 99.9, 100, 60}), std::vector<int>{});
  // No spread at all: any figure below half the median is slow.
  EXPECT_EQ(slow_ranks({100, 100, 100, 100, 40}), std::vector<int>{5});
  // A wide spread hides a low figure.
  EXPECT_EQ(slow_ranks({10, 100, 200, 300, 400, 45}), std::vector<int>{});
  EXPECT_EQ(slow_ranks({100}), std::vector<int>{});
  EXPECT_EQ(slow_ranks({100, 10}), std::vector<int>{});
}

TEST(SlowNodes, FailedWorkersAreListedApartAndNotCounted) {
  const MeasurementFigures m = workers_with({100, NAN, 101, 99, 20});
  const WorkerSpread spread = spread_of(m);
  ASSERT_EQ(spread.failed.size(), 1u);
  EXPECT_EQ(spread.failed[0]->rank, 2);
  ASSERT_EQ(spread.slow.size(), 1u);
  EXPECT_EQ(spread.slow[0]->rank, 5);
  EXPECT_EQ(spread.measured, 4u);
  EXPECT_EQ(spread.median, 99.5);
  EXPECT_EQ(spread.min, 20);
  EXPECT_EQ(spread.max, 101);
}

TEST(ReportNumbers, OnlyTheStreamDefaultFormat) {
  double value = 0;
  for (const char* good : {"0.5", "262144", "1.23457e+06", "nan", "inf", "-nan", "8.7145e-05", "3"}) {
    EXPECT_TRUE(parse_report_number(good, value)) << good;
  }
  for (const char* bad : {"", "0.50", "262144.0", "1.234567e+06", "1e6", "0x10", "12a", " 1", "NaN"}) {
    EXPECT_FALSE(parse_report_number(bad, value)) << bad;
  }
}

TEST(ResultFileParser, EmptyAndForeignInput) {
  std::istringstream empty("");
  EXPECT_THROW(parse_result_file(empty, "empty.txt"), ParseError);
  std::istringstream foreign("hello\nworld\nThread(s): 2\n");
  try {
    parse_result_file(foreign, "foreign.txt");
    FAIL() << "accepted a foreign file";
  } catch (const ParseError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("foreign.txt:1: expected \"Vantrel :: Corvada", 0), 0u) << error.what();
  }
  std::istringstream too_many("Vantrel\n\nThread(s): 999999\n");
  EXPECT_THROW(parse_result_file(too_many, "x"), ParseError);
}
