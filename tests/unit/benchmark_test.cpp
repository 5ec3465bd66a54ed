// The arithmetic the end-to-end tests cannot pin to the digit: the fractional
// credit of a second pass.
#include <gtest/gtest.h>

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
