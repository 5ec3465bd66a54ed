#include "writing/drain.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "writing/wording.h"

bool plain_node_name(const std::string& name) {
  if (name.empty() || name.size() > 255 || name.front() == '-') return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

namespace {

// A name as its prefix and the number it ends in, kept with its width when
// it has leading zeros ("node007": "node", 7, 3); width 0 for a name without
// a number, -1 for a number without leading zeros.
struct NumberedName {
  std::string prefix;
  unsigned long number = 0;
  int width = 0;
};

NumberedName split(const std::string& name) {
  std::size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  const std::size_t count = name.size() - digits;
  if (count == 0 || count > 9) return {name, 0, 0};
  const bool padded = name[digits] == '0' && count > 1;
  return {name.substr(0, digits), std::strtoul(name.c_str() + digits, nullptr, 10), padded ? static_cast<int>(count) : -1};
}

std::string number_text(unsigned long number, int width) {
  const std::string digits = std::to_string(number);
  const std::size_t padding = width > static_cast<int>(digits.size()) ? width - digits.size() : 0;
  return std::string(padding, '0').append(digits);
}

// "001-003,017" for the numbers, sorted.
std::string ranges(const std::vector<unsigned long>& numbers, int width) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!text.empty()) text += ',';
    text += number_text(numbers[i], width);
    if (j > i) text.append(1, '-').append(number_text(numbers[j], width));
    i = j + 1;
  }
  return text;
}

// "stelvane-mpi: slow in streams 0.62 (line 0.78), ...; probably the
// metadata path", "stelvane-mpi: slower than its own normal: streams 0.84
// (own 1.01, line 0.93); probably the metadata path" or "stelvane-mpi:
// failed in block_read, block_write": our own words and figures only,
// nothing from the file, so it is safe between double quotes.
std::string drain_reason(const NodeVerdict& node) {
  if (node.verdict != Verdict::slow) return "stelvane-mpi: " + verdict_detail(node);
  const std::string why = node.by_peers == Verdict::slow ? "slow in " + low_measurements(node)
                                                         : "slower than its own normal: " + below_own_normal(node);
  const std::string cause = cause_summary(node.cause.cause);
  return "stelvane-mpi: " + why + (node.fall >= 0 ? "; fell together with others" : "") +
         (cause.empty() ? "" : "; " + cause);
}

}  // namespace

std::string host_list(std::vector<std::string> names) {
  std::map<std::pair<std::string, int>, std::vector<unsigned long>> groups;  // (prefix, width): numbers
  std::vector<std::string> plain;
  for (const std::string& name : names) {
    const NumberedName parts = split(name);
    if (parts.width == 0)
      plain.push_back(name);
    else
      groups[{parts.prefix, parts.width}].push_back(parts.number);
  }
  std::sort(plain.begin(), plain.end());
  plain.erase(std::unique(plain.begin(), plain.end()), plain.end());
  std::string text;
  for (auto& [key, numbers] : groups) {
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    const std::string listed = ranges(numbers, key.second);
    if (!text.empty()) text += ',';
    text += key.first;
    text += numbers.size() > 1 ? std::string(1, '[').append(listed).append(1, ']') : listed;
  }
  for (const std::string& name : plain) append_listed(text, name, ",");
  return text;
}

std::vector<const NodeVerdict*> nodes_to_drain(const Verdicts& verdicts, std::vector<std::string>& left_out) {
  std::vector<const NodeVerdict*> chosen;
  for (const NodeVerdict& node : verdicts.nodes) {
    if (node.verdict != Verdict::slow && node.verdict != Verdict::failed) continue;
    if (plain_node_name(node.node))
      chosen.push_back(&node);
    else
      left_out.push_back(node.node);
  }
  return chosen;
}

std::string drain_host_list(const Verdicts& verdicts) {
  std::vector<std::string> left_out, names;
  for (const NodeVerdict* node : nodes_to_drain(verdicts, left_out)) names.push_back(node->node);
  return host_list(names);
}

void write_drain(std::ostream& out, std::ostream& notes, const std::vector<JudgedRun>& runs) {
  for (const JudgedRun& run : runs) {
    std::vector<std::string> left_out;
    const ResultFile& file = *run.file;
    const Verdicts& verdicts = run.verdicts;
    for (const NodeVerdict* node : nodes_to_drain(verdicts, left_out))
      out << "scontrol update nodename=" << node->node << " state=drain reason=\"" << drain_reason(*node) << "\"\n";
    for (const std::string& name : left_out)
      notes << "stelvane-report: " << file.source << ": node \"" << shown_safely(name)
            << "\" is slow or failed but left out of the drain list: its name holds characters no node name has\n";
  }
}
