// The arithmetic the end-to-end tests cannot pin to the digit: the fractional
// credit of a second pass, and MB figures of a summary.
#include <gtest/gtest.h>

#include "workloads/layouts.h"
#include "workloads/passes.h"

constexpr std::uint64_t FULL_FILE = 16777216;

TEST(Passes, SecondPassLengthsAndCreditedUnits) {
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(0)), 8388608u);
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(2)), 5592405u);
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(3)), 4194304u);
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(7)), 2097152u);
  EXPECT_EQ(credited_units(FULL_FILE, pass_divisor(0)), 25165824.0);
  EXPECT_NEAR(credited_units(FULL_FILE, pass_divisor(2)), 22369621.33, 0.01);
  EXPECT_EQ(credited_units(FULL_FILE, pass_divisor(3)), 20971520.0);
  EXPECT_EQ(credited_units(FULL_FILE, pass_divisor(7)), 18874368.0);
  EXPECT_EQ(credited_units(1001, pass_divisor(0)), 1501.5);
}

TEST(TransferLayout, BlockSummaryOfThreeWorkers) {
  // Workers read at 1, 2 and 3 MiB/s: the read total shows 6, the average 2;
  // each writes as fast as rank 0 alone: the write ratio shows 3.
  const double mb = 1048576.0;
  const ReportBlock block = transfer_summary(Workload::block, {3 * mb, 3, 1 * mb}, {6 * mb, 2, 2 * mb});
  const std::vector<std::string> expected = {
      "",
      "Overall, It was: 3.14573 Millions Accesses/sec.to Write",
      "Conventionally, total writing speed was: 3 MB/sec.",
      "Multi-Thread Improvements: 3 times.",
      "Overall, It was: 6.29146 Millions Accesses/sec.to Read",
      "Conventionally, total reading speed was: 6 MB/sec.",
      "Multi-Thread Improvements: 2 times.",
      "",
      "Among all nodes, the average high writing process per thread was: 1  MB/sec.",
      "Among all nodes, the average high reading process per thread was: 2  MB/sec."};
  EXPECT_EQ(block.console, expected);
  EXPECT_EQ(block.file, expected);
}
