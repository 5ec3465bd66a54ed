// Pass arithmetic, scratch names, cluster statistics and failure lines.
#include <gtest/gtest.h>

#include <cmath>

#include "cluster/statistics.h"
#include "failures.h"
#include "workloads/passes.h"
#include "workloads/scratch_names.h"

constexpr std::uint64_t FULL_FILE = 16777216;

TEST(Passes, DivisorIsTwoOnRankZeroAndRankPlusOneOnWorkers) {
  EXPECT_EQ(pass_divisor(0), 2u);
  EXPECT_EQ(pass_divisor(1), 2u);
  EXPECT_EQ(pass_divisor(2), 3u);
  EXPECT_EQ(pass_divisor(4095), 4096u);
}

TEST(Passes, SecondPassLengthsAndCreditedUnits) {
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(0)), 8388608u);
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(2)), 5592405u);
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(3)), 4194304u);
  EXPECT_EQ(second_pass_length(FULL_FILE, pass_divisor(7)), 2097152u);
  EXPECT_EQ(credited_units(FULL_FILE, pass_divisor(0)), 25165824.0);
  EXPECT_NEAR(credited_units(FULL_FILE, pass_divisor(2)), 22369621.33, 0.01);
  EXPECT_EQ(credited_units(FULL_FILE, pass_divisor(3)), 20971520.0);
  EXPECT_EQ(credited_units(FULL_FILE, pass_divisor(7)), 18874368.0);
  for (int rank = 0; rank < 4096; ++rank)
    EXPECT_LE(2 * second_pass_length(FULL_FILE, pass_divisor(rank)), FULL_FILE);
}

TEST(Passes, OddSizeOnRankZero) {
  EXPECT_EQ(second_pass_length(1001, pass_divisor(0)), 500u);
  EXPECT_EQ(credited_units(1001, pass_divisor(0)), 1501.5);
}

TEST(ScratchNames, CarryRankAndProcessorName) {
  char name[SCRATCH_NAME_BYTES];
  format_worker_scratch_name(name, sizeof name, 3, "node7");
  EXPECT_STREQ(name, "data64-sparc-3 @node7.tmp");
  format_worker_block_name(name, sizeof name, 12, "node7");
  EXPECT_STREQ(name, "data64-sparc-12 @node7");
  // Deliberately too small: the name is cut, never written past the buffer.
  char small[16];
  const std::string long_name(40, 'n');
  volatile std::size_t capacity = sizeof small;  // hidden from the compiler's own truncation warning
  format_worker_scratch_name(small, capacity, 3, long_name.c_str());
  EXPECT_EQ(std::string(small).size(), sizeof small - 1);  // bounded, terminated
}

TEST(ClusterStatistics, TotalAverageAndRatio) {
  double total = 0.0;
  for (double figure : {100.0, 200.0, 300.0}) total = add_to_cluster_total(total, figure);
  EXPECT_EQ(total, 600.0);
  EXPECT_EQ(per_thread_average(total, 4), 200.0);  // three workers, not four ranks
  EXPECT_EQ(improvement_ratio(total, 200.0), 3.0);
  EXPECT_EQ(per_thread_average(150.0, 2), 150.0);  // one worker: average = total
  EXPECT_TRUE(std::isnan(add_to_cluster_total(total, std::nan(""))));
}

TEST(Failures, FigureIsNanAndTheLineSaysWhatWhereAndWhy) {
  OpFailures none;
  EXPECT_EQ(measured_rate(100.0, 4.0, none), 25.0);
  OpFailures failed;
  failed.note(28);  // ENOSPC
  failed.note(28);
  EXPECT_TRUE(std::isnan(measured_rate(100.0, 4.0, failed)));
  EXPECT_EQ(failure_detail(failed, 98304, "byte writes"),
            "2 of 98304 byte writes failed, first: No space left on device");
  OpFailures short_file;
  short_file.note(std::string("the file ended early"));
  EXPECT_EQ(failure_detail(short_file, 1, "reads"), "the file ended early");
  EXPECT_EQ(failure_line(2, "nodeB", "block read", "data64-sparc-2 @nodeB.tmp", "No such file or directory"),
            "stelvane-mpi: rank 2 (nodeB): block read failed on \"data64-sparc-2 @nodeB.tmp\": "
            "No such file or directory");
}
