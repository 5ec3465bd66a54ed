// What the end-to-end tests cannot pin down: the fractional credit of a
// second pass to the digit, and rank 0's rule for a late worker to the second.
#include <gtest/gtest.h>

#include "cluster/answers.h"
#include "cluster/waiting.h"
#include "open_files.h"
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

// The one wait: whether to give up is asked only after a step that found
// nothing, so that an answer that has come in is never dropped for a
// deadline that has passed meanwhile.
TEST(QuietWait, GivingUpIsAskedOnlyWhenAStepFoundNothing) {
  const Waited steps[] = {Waited::nothing, Waited::progress, Waited::progress, Waited::nothing, Waited::done};
  int taken = 0, asked = 0;
  const bool found = wait_quietly_for([&] { return steps[taken++]; }, [&] { return ++asked > 5; });
  EXPECT_TRUE(found);
  EXPECT_EQ(taken, 5);
  EXPECT_EQ(asked, 2);

  taken = 0;
  const bool answered_while_late = wait_quietly_for(
      [&] { return ++taken < 3 ? Waited::progress : Waited::done; }, [] { return true; });
  EXPECT_TRUE(answered_while_late);

  int late_steps = 0;
  EXPECT_FALSE(wait_quietly_for([&] { ++late_steps; return Waited::nothing; }, [] { return true; }));
  EXPECT_EQ(late_steps, 1);
}

// Rank 0 warns of a limit on open files only where a job over TCP would
// run out, and never where there is no limit.
TEST(OpenFiles, WarnsOnlyBelowOneDescriptorPerPeerAndTheRest) {
  const std::uint64_t enough_for_4096 = 4095 + OPEN_FILES_BESIDES_PEERS;
  EXPECT_EQ(open_file_warning(enough_for_4096, 4096), "");
  EXPECT_EQ(open_file_warning(0, 4096), "");
  EXPECT_EQ(open_file_warning(1024, 2), "");
  EXPECT_EQ(open_file_warning(enough_for_4096 - 1, 4096),
            "stelvane-mpi: rank 0 may open 4158 files (its hard limit), but over TCP a job of 4096 ranks needs about "
            "4159 (one connection to each other rank, and 64 more); if this job runs over TCP, raise the limit before "
            "the job starts (ulimit -n, or Slurm's PropagateResourceLimits)");
}

// Rank 0 keeps out only the workers whose connections it could not hold,
// and only where its peers connect to it.
TEST(OpenFiles, WorkersRankZeroCanHold) {
  EXPECT_EQ(workers_rank0_can_hold(40, 48, 17, true), 40 - 17 - RANK0_SPARE_FILES);
  EXPECT_EQ(workers_rank0_can_hold(40, 48, 17, false), 47);
  EXPECT_EQ(workers_rank0_can_hold(0, 48, 17, true), 47);
  EXPECT_EQ(workers_rank0_can_hold(20, 48, 17, true), 0);
  EXPECT_EQ(workers_rank0_can_hold(111, 48, 17, true), 47);
  // At the boundary: a limit of one descriptor for every worker and the
  // rest holds them all, whatever is open now; one fewer holds what room
  // is left, to the descriptor.
  EXPECT_EQ(workers_rank0_can_hold(47 + OPEN_FILES_BESIDES_PEERS, 48, 60, true), 47);
  EXPECT_EQ(workers_rank0_can_hold(47 + OPEN_FILES_BESIDES_PEERS - 1, 48, 60, true), 110 - 60 - RANK0_SPARE_FILES);
  EXPECT_EQ(workers_rank0_can_hold(40 + RANK0_SPARE_FILES + 47, 48, 40, true), 47);
  EXPECT_EQ(workers_rank0_can_hold(40 + RANK0_SPARE_FILES + 46, 48, 40, true), 46);
}
