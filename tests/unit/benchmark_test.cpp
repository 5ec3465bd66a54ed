// What the end-to-end tests cannot pin down: the fractional credit of a
// second pass to the digit, and rank 0's rule for a late worker to the second.
#include <gtest/gtest.h>

#include "cluster/answers.h"
#include "sizes.h"
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

// Rank 0's rule for a worker that does not answer, on its own clock.
TEST(WorkerAnswers, LateIsMeasuredFromTheLatestAnswerAndGivenUpMeansGone) {
  WorkerAnswers answers;
  answers.begin(4);
  answers.start_clock(100.0);
  answers.rank0_done(STREAMS, 101.0);
  EXPECT_DOUBLE_EQ(answers.deadline(STREAMS), 100.0 + ANSWER_FACTOR * 1.0 + ANSWER_MARGIN_SECONDS);
  // A slower answer moves the time the others have; an earlier one does not.
  EXPECT_TRUE(answers.reported(1, STREAMS, 103.0));
  EXPECT_TRUE(answers.reported(3, STREAMS, 102.0));
  EXPECT_DOUBLE_EQ(answers.deadline_after_start(STREAMS), ANSWER_FACTOR * 3.0 + ANSWER_MARGIN_SECONDS);
  // Reports come in a rank's order of measurements, each once.
  EXPECT_FALSE(answers.reported(1, BYTEWISE_WRITE, 104.0));
  EXPECT_FALSE(answers.reported(1, STREAMS, 104.0));
  EXPECT_TRUE(answers.settled(1, STREAMS));
  EXPECT_FALSE(answers.settled(1, DESCRIPTORS));
  // Rank 2 is given up in streams: settled there and after, never heard again.
  EXPECT_FALSE(answers.settled(2, STREAMS));
  EXPECT_FALSE(answers.any_lost());
  answers.give_up(2, STREAMS);
  EXPECT_TRUE(answers.settled(2, STREAMS) && answers.settled(2, BLOCK_WRITE));
  EXPECT_FALSE(answers.reported(2, STREAMS, 500.0));
  EXPECT_EQ(answers.lost_from(2), STREAMS);
  EXPECT_EQ(answers.lost_from(1), MEASUREMENT_COUNT);
  EXPECT_TRUE(answers.any_lost());
}

// A fast worker answers while rank 0 still waits for a slow one's greeting;
// rank 0's clock need not read near zero then (under MPICH it may read
// hundreds of seconds).
TEST(WorkerAnswers, AnAnswerBeforeTheClockStartsCountsAsAtTheStart) {
  WorkerAnswers answers;
  answers.begin(3);
  EXPECT_TRUE(answers.reported(1, STREAMS, 5000.0));
  answers.start_clock(5000.5);
  EXPECT_DOUBLE_EQ(answers.deadline_after_start(STREAMS), ANSWER_MARGIN_SECONDS);
  answers.rank0_done(STREAMS, 5001.5);
  EXPECT_DOUBLE_EQ(answers.deadline(STREAMS), 5000.5 + ANSWER_FACTOR * 1.0 + ANSWER_MARGIN_SECONDS);
}
