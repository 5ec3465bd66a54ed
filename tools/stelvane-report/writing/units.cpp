#include "writing/units.h"

#include <charconv>
#include <cmath>
#include <cstdio>

std::string three_figures(double value) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
  const double size = std::fabs(value);
  const int decimals = size >= 99.95 ? 0 : size >= 9.995 ? 1 : size >= 0.9995 || size == 0 ? 2 : 3;
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

RateScale rate_scale(double value, const std::string& unit) {
  const bool bytes = unit == "bytes/s";
  const double step = bytes ? 1024.0 : 1000.0;
  static const char* const binary[] = {"B/s", "KiB/s", "MiB/s", "GiB/s", "TiB/s"};
  static const char* const decimal[] = {"", "k ", "M ", "G ", "T "};
  RateScale scale;
  int power = 0;
  // 1000 of a unit and more reads as the next one (0.977 GiB/s, not 1000 MiB/s).
  while (std::isfinite(value) && std::fabs(value) >= 1000.0 * scale.size && power < 4) {
    scale.size *= step;
    ++power;
  }
  scale.name = bytes ? binary[power] : decimal[power] + unit;
  return scale;
}

std::string rate_text(double value, const std::string& unit) {
  if (!std::isfinite(value)) return three_figures(value);
  const RateScale scale = rate_scale(value, unit);
  return three_figures(value / scale.size) + " " + scale.name;
}

std::string count_text(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string exact_text(double value) {
  if (!std::isfinite(value)) return three_figures(value);
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : three_figures(value);
}
