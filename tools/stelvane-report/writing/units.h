// Figures as an administrator reads them, and exactly as a program does.
//
// The benchmark's "MB" is 2^20 bytes, so byte rates are given in binary
// units, named as such (KiB/s, MiB/s, GiB/s, TiB/s), and file and access
// rates with decimal prefixes (k, M, G); both with three significant
// figures. JSON and CSV keep base units at full precision.
#pragma once

#include <cstddef>
#include <string>

// "412 MiB/s", "1.73 GiB/s", "38.7 k files/s", "577 k accesses/s", "950 files/s";
// "nan" for a failed figure. `unit` is a measurement's base unit: bytes/s,
// files/s or accesses/s.
std::string rate_text(double value, const std::string& unit);

// The unit a rate of this size reads in: its size in base units and its
// name ("MiB/s", "k files/s").
struct RateScale {
  double size = 1.0;
  std::string name;
};
RateScale rate_scale(double value, const std::string& unit);

// Three significant figures without an exponent: 0.977, 38.7, 577, 1020.
std::string three_figures(double value);

// "1 worker", "2 workers".
std::string count_text(std::size_t count, const std::string& noun);

// The shortest text that reads back as exactly this double; "nan", "inf".
std::string exact_text(double value);
