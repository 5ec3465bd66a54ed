#include "reading/group_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "reading/result_reader.h"

namespace {

// The parts of a list at its top level: commas inside brackets do not split.
bool top_level_items(const std::string& list, std::vector<std::string>& items, std::string& why) {
  std::string item;
  int depth = 0;
  for (char c : list) {
    if (c == '[') ++depth;
    if (c == ']' && --depth < 0) return why = "a \"]\" without its \"[\"", false;
    if (c == ',' && depth == 0) {
      items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (depth != 0) return why = "a \"[\" without its \"]\"", false;
  items.push_back(item);
  return true;
}

// "01-03,7": the numbers, each as wide as its range's first number is written.
bool range_names(const std::string& ranges, std::vector<std::string>& numbers, std::string& why) {
  std::stringstream parts(ranges);
  for (std::string part; std::getline(parts, part, ',');) {
    const std::size_t dash = part.find('-');
    const std::string first = part.substr(0, dash), last = dash == std::string::npos ? first : part.substr(dash + 1);
    const bool digits = !first.empty() && !last.empty() && first.size() <= 9 && last.size() <= 9 &&
                        first.find_first_not_of("0123456789") == std::string::npos &&
                        last.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoul(first) > std::stoul(last)) return why = "\"" + part + "\" is not a range", false;
    for (unsigned long n = std::stoul(first); n <= std::stoul(last); ++n) {
      if (numbers.size() >= MAX_HOST_LIST_NAMES) return why = "more than a million names", false;
      const std::string text = std::to_string(n);
      numbers.push_back(std::string(first.size() > text.size() ? first.size() - text.size() : 0, '0') + text);
    }
  }
  return true;
}

// One item of a list: its bracketed parts expanded in turn.
bool expand_item(const std::string& item, std::vector<std::string>& names, std::string& why) {
  std::vector<std::string> expanded{""};
  for (std::size_t at = 0; at < item.size();) {
    const std::size_t open = item.find('[', at);
    const std::string plain = item.substr(at, open == std::string::npos ? std::string::npos : open - at);
    for (std::string& name : expanded) name += plain;
    if (open == std::string::npos) break;
    const std::size_t close = item.find(']', open);
    std::vector<std::string> numbers;
    if (!range_names(item.substr(open + 1, close - open - 1), numbers, why)) return false;
    if (expanded.size() * numbers.size() > MAX_HOST_LIST_NAMES) return why = "more than a million names", false;
    std::vector<std::string> next;
    for (const std::string& name : expanded)
      for (const std::string& number : numbers) next.push_back(name + number);
    expanded = std::move(next);
    at = close + 1;
  }
  for (std::string& name : expanded) {
    if (name.empty()) return why = "an empty name", false;
    names.push_back(std::move(name));
  }
  return true;
}

std::ifstream opened(const std::string& path) {
  errno = 0;
  std::ifstream in(path);
  if (!in) throw ParseError(path + ": cannot be read: " + (errno ? std::strerror(errno) : "unknown reason"));
  return in;
}

// Groups built up in the order they are named, each node in one at most.
class GroupBook {
 public:
  explicit GroupBook(const std::string& source) : source_(source) {}

  void add(const std::string& group, const std::vector<std::string>& nodes, std::size_t line) {
    const auto [at, added] = index_.try_emplace(group, groups_.size());
    if (added) groups_.push_back({group, {}});
    for (const std::string& node : nodes) {
      const auto [first, fresh] = placed_.try_emplace(node, Place{group, line});
      if (!fresh && first->second.group != group)
        throw ParseError(source_ + ":" + std::to_string(line) + ": node " + shown_safely(node) + " is in group " +
                         shown_safely(group) + " and already in " + shown_safely(first->second.group) + " (line " +
                         std::to_string(first->second.line) + ")");
      if (fresh) groups_[at->second].nodes.push_back(node);
    }
  }
  bool named(const std::string& group) const { return index_.count(group) > 0; }
  std::vector<DeclaredGroup> groups() { return std::move(groups_); }

 private:
  struct Place {
    std::string group;
    std::size_t line;
  };
  const std::string source_;
  std::vector<DeclaredGroup> groups_;
  std::map<std::string, std::size_t> index_;
  std::map<std::string, Place> placed_;
};

}  // namespace

bool expand_host_list(const std::string& list, std::vector<std::string>& names, std::string& why) {
  std::vector<std::string> items;
  if (!top_level_items(list, items, why)) return false;
  for (const std::string& item : items)
    if (!expand_item(item, names, why)) return false;
  return names.size() <= MAX_HOST_LIST_NAMES || (why = "more than a million names", false);
}

std::vector<DeclaredGroup> parse_group_file(std::istream& in, const std::string& source) {
  GroupBook book(source);
  std::size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::string where = source + ":" + std::to_string(number) + ": ";
    std::string text = line.substr(0, line.find('#'));
    std::istringstream words(text);
    std::string name, list, extra;
    if (!(words >> name)) continue;  // blank or a comment
    std::vector<std::string> nodes;
    std::string why = "no host list";
    if (!(words >> list) || words >> extra || !expand_host_list(list, nodes, why))
      throw ParseError(where + "expected a group name, a blank and a host list (gen3 node[0001-0448],gpu[01-16]), found \"" +
                       shown_safely(line) + "\"" + (extra.empty() ? ": " + why : ": more than two words"));
    if (book.named(name)) throw ParseError(where + "group " + shown_safely(name) + " is named twice");
    book.add(name, nodes, number);
  }
  return book.groups();
}

std::vector<DeclaredGroup> read_group_file(const std::string& path) {
  std::ifstream in = opened(path);
  return parse_group_file(in, path);
}

std::vector<DeclaredGroup> parse_slurm_nodes(std::istream& in, const std::string& source) {
  GroupBook book(source);
  std::string node, features;
  std::size_t records = 0, line_of_node = 0, number = 0;
  auto finish = [&] {
    if (!node.empty() && !features.empty() && features != "(null)") book.add(features, {node}, line_of_node);
  };
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      if (word.rfind("NodeName=", 0) == 0) {
        finish();
        node = word.substr(9);
        features.clear();
        line_of_node = number;
        ++records;
      } else if (word.rfind("ActiveFeatures=", 0) == 0) {
        features = word.substr(15);
      }
    }
  }
  finish();
  if (records == 0) throw ParseError(source + ": no node records (\"NodeName=...\"), as scontrol show nodes prints them");
  return book.groups();
}

std::vector<DeclaredGroup> read_slurm_nodes(const std::string& path) {
  std::ifstream in = opened(path);
  return parse_slurm_nodes(in, path);
}
