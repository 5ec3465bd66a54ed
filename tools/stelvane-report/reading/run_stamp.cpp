#include "reading/run_stamp.h"

#include <cstdio>
#include <ctime>

#include "report_lines.h"

std::string file_name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

RunStamp stamp_of(const std::string& path) {
  // The benchmark's own name builder, with a mark in each open place, shows
  // the literal text between them.
  const std::string zone_mark = "\x01", time_mark = "\x02", node_mark = "\x03";
  const std::string pattern = result_file_name(zone_mark.c_str(), time_mark.c_str(), node_mark.c_str());
  const std::string prefix = pattern.substr(0, pattern.find(zone_mark));
  const std::string after_zone = pattern.substr(pattern.find(zone_mark) + 1, pattern.find(time_mark) - pattern.find(zone_mark) - 1);
  const std::string after_time = pattern.substr(pattern.find(time_mark) + 1, pattern.find(node_mark) - pattern.find(time_mark) - 1);
  const std::string suffix = pattern.substr(pattern.find(node_mark) + 1);

  const std::string name = file_name_of(path);
  if (name.size() < prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return {};
  const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const std::size_t zone_end = middle.find(after_zone);
  if (zone_end == std::string::npos) return {};
  const std::size_t time_end = middle.find(after_time, zone_end + after_zone.size());
  if (time_end == std::string::npos) return {};
  const std::string zone = middle.substr(0, zone_end);
  const std::string when = middle.substr(zone_end + after_zone.size(), time_end - zone_end - after_zone.size());
  std::tm parts{};
  const char* end = strptime(when.c_str(), "%a %b %d %H:%M:%S %Y", &parts);
  if (end == nullptr || *end != '\0') return {};
  char iso[64];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return {iso, zone, middle.substr(time_end + after_time.size())};
}
