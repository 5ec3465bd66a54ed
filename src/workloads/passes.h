// Pass arithmetic of the byte-wise and block workloads. Rank 0's
// single-process phases and worker rank 1 use divisor 2; worker rank r uses
// r + 1, so higher ranks move less in their second pass.
#pragma once

#include <cstdint>

#include "../sizes.h"

inline constexpr std::uint64_t pass_divisor(int rank) {
  return rank == 0 ? SINGLE_PROCESS_PASS_DIVISOR : static_cast<std::uint64_t>(rank) + 1;
}

// Offset and length of the second pass: size / d, rounded down.
inline constexpr std::uint64_t second_pass_length(std::uint64_t size, std::uint64_t divisor) {
  return size / divisor;
}

// Accesses or bytes credited to a measurement: size x (1 + 1/d), keeping the
// fraction (rank 2 credits 22,369,621.33 for a 16,777,216-byte file).
inline constexpr double credited_units(double size, std::uint64_t divisor) {
  return size * (1.0 + 1.0 / static_cast<double>(divisor));
}
