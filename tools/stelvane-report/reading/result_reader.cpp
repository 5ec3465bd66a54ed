#include "reading/result_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>

#include "failures.h"
#include "sizes.h"
#include "reading/grammar.h"


std::string printable(const std::string& text) {
  std::string shown;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  return shown;
}

std::string shown_safely(const std::string& line) {
  const std::string shown = printable(line.substr(0, 200));
  return line.size() > 200 ? shown + "..." : shown;
}

namespace {

void store(ResultFile& file, const ExpectedLine& expected, const Matched& found) {
  if (expected.measurement < 0) return;
  MeasurementFigures& m = file.measurements[expected.measurement];
  const double value = found.number * expected.scale;
  switch (expected.field) {
    case Field::rank0_seconds: m.rank0_seconds = value; break;
    case Field::rank0_figure: m.rank0_figure = value; break;
    case Field::worker_seconds: m.workers.push_back({found.rank, found.name, value, NO_FIGURE}); break;
    case Field::worker_figure: m.workers.back().figure = value; break;
    case Field::total: m.total = value; break;
    case Field::improvement: m.improvement = value; break;
    case Field::average: m.average = value; break;
    case Field::none:
    case Field::format_only: break;
  }
}


std::string where(const std::string& source, std::size_t line_number) {
  return source + ":" + std::to_string(line_number);
}
// One line of input at a time, bounded: no line may hold more than
// MAX_LINE_BYTES, so no input can make the reader grow without bound.
class LineSource {
 public:
  LineSource(std::istream& in, const std::string& source) : in_(in), source_(source) {}

  // The next line, or false at the end of the input.
  bool next(std::string& line) {
    line.clear();
    if (!in_.good()) return false;
    for (int c; (c = in_.get()) != EOF;) {
      if (c == '\n') {
        ++number_;
        last_had_newline_ = true;
        return true;
      }
      if (line.size() == MAX_LINE_BYTES)
        throw ParseError(where(source_, number_ + 1) + ": expected a line of the report, found a line of more than " +
                         std::to_string(MAX_LINE_BYTES) + " bytes: \"" + shown_safely(line) + "\"");
      line += static_cast<char>(c);
    }
    if (in_.bad()) throw ParseError(source_ + ": cannot be read after line " + std::to_string(number_));
    if (line.empty()) return false;
    ++number_;
    last_had_newline_ = false;
    return true;
  }
  std::size_t number() const { return number_; }      // of the line last returned
  bool cut() const { return !last_had_newline_; }      // it stops without its newline

 private:
  std::istream& in_;
  const std::string& source_;
  std::size_t number_ = 0;
  bool last_had_newline_ = true;
};

// The rank count, from the third line ("Thread(s): N").
int rank_count(const std::string& line, const std::string& source) {
  const std::string prefix = "Thread(s): ";
  const std::string count = line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : "";
  if (count.empty() || count.size() > 9 || count.find_first_not_of("0123456789") != std::string::npos ||
      std::atoi(count.c_str()) < 1 || std::atoi(count.c_str()) > MAX_RANKS)
    throw ParseError(where(source, 3) + ": expected \"Thread(s): {ranks}\" with a rank count from 1 to " +
                     std::to_string(MAX_RANKS) + ", found \"" + shown_safely(line) + "\"");
  return std::atoi(count.c_str());
}

// Every worker line of a rank names the node of its first: a file whose
// rank moved from node to node was damaged or put together from others.
class NodeOfRank {
 public:
  void check(const WorkerFigures& worker, const std::string& source, std::size_t line_number) {
    const auto [first, added] = first_.try_emplace(worker.rank, First{worker.node, line_number});
    if (!added && first->second.node != worker.node)
      throw ParseError(where(source, line_number) + ": expected node \"" + shown_safely(first->second.node) +
                       "\" for rank " + std::to_string(worker.rank) + " (as on line " +
                       std::to_string(first->second.line) + "), found \"" + shown_safely(worker.node) + "\"");
  }

 private:
  struct First {
    std::string node;
    std::size_t line;
  };
  std::map<int, First> first_;
};

// The line that gives up a worker, standing before that worker's lines of
// the measurement it gave no answer in.
std::optional<LostRank> no_answer_of(const std::string& line, const ExpectedLine& expected) {
  const std::string start = "stelvane-mpi: rank " + std::to_string(expected.worker);
  const std::size_t words = line.rfind(NO_ANSWER_WORDS);
  const std::string end = NO_ANSWER_END;
  if (line.compare(0, start.size(), start) != 0 || words == std::string::npos || line.size() < end.size() ||
      line.compare(line.size() - end.size(), end.size(), end) != 0)
    return std::nullopt;
  LostRank lost{expected.worker, "", static_cast<MeasurementId>(expected.measurement), ""};
  const std::string who = line.substr(start.size(), words - start.size());
  if (!who.empty()) {
    if (who.size() < 3 || who.compare(0, 2, " (") != 0 || who.back() != ')') return std::nullopt;
    lost.node = who.substr(2, who.size() - 3);
  }
  const std::string rest = line.substr(words + std::char_traits<char>::length(NO_ANSWER_WORDS));
  const std::string name = MEASUREMENTS[expected.measurement].name;
  if (rest.compare(0, name.size() + 1, name + " ") != 0) return std::nullopt;
  lost.why = rest.substr(name.size() + 1, rest.size() - name.size() - 1 - end.size());
  return lost;
}

}  // namespace

ResultFile parse_result_file(std::istream& in, const std::string& source) {
  LineSource input(in, source);
  std::vector<std::string> head(3);  // the banner's two lines and the rank count
  std::size_t read = 0;
  while (read < head.size() && input.next(head[read])) ++read;
  if (read == 0) throw ParseError(source + ":1: expected the first line of a result file, the file is empty");
  if (read < head.size() || (read == head.size() && input.cut()))
    throw ParseError(where(source, read) + ": the file ends before line 3 (\"Thread(s): {ranks}\") is complete, "
                     "so it cannot be read as a result file");

  ResultFile file;
  file.source = source;
  file.stamp = stamp_of(source);
  file.ranks = rank_count(head[2], source);
  const Grammar grammar = grammar_for(file.ranks);
  NodeOfRank nodes;
  std::string text;
  for (std::size_t i = 0; i < grammar.lines.size(); ++i) {
    const ExpectedLine& expected = grammar.lines[i];
    const bool more = i < head.size() ? (text = head[i], true) : input.next(text);
    if (!more) {
      file.truncation = "the file ends after line " + std::to_string(i) + "; next expected \"" + expected.shown + "\"";
      return file;
    }
    if (expected.field == Field::worker_seconds && text.compare(0, 13, "stelvane-mpi:") == 0) {
      const std::optional<LostRank> lost = no_answer_of(text, expected);
      if (!lost || input.cut())
        throw ParseError(where(source, i + 1) + ": expected \"" + expected.shown + "\" for rank " +
                         std::to_string(expected.worker) + ", or the line that gives it up in " +
                         MEASUREMENTS[expected.measurement].name + ", found \"" + shown_safely(text) + "\"");
      file.lost.push_back(*lost);
      if (!input.next(text)) {
        file.truncation = "the file ends after the line that gives up rank " + std::to_string(expected.worker) +
                          "; next expected \"" + expected.shown + "\"";
        return file;
      }
    }
    const bool last_and_cut = i >= head.size() && input.cut() && i + 1 < grammar.lines.size();
    if (last_and_cut && could_begin(expected, text)) {
      file.truncation = "the file ends in the middle of line " + std::to_string(i + 1) + " (\"" + shown_safely(text) +
                        "\"); expected \"" + expected.shown + "\"";
      return file;
    }
    const std::optional<Matched> found = match(expected, text);
    if (!found || (expected.worker != 0 && found->rank != -1 && found->rank != expected.worker))
      throw ParseError(where(source, i + 1) + ": expected \"" + expected.shown + "\"" +
                       (expected.worker ? " for rank " + std::to_string(expected.worker) : "") + ", found \"" +
                       shown_safely(text) + "\"");
    if (expected.names_node)
      nodes.check({expected.worker, found->name, NO_FIGURE, NO_FIGURE}, source, i + 1);
    store(file, expected, *found);
  }
  if (input.next(text))
    throw ParseError(where(source, input.number()) + ": expected the end of the file, found \"" + shown_safely(text) +
                     "\"");
  file.complete = true;
  return file;
}

namespace {

// What kind of thing a path names, when it is not a regular file.
const char* not_a_file(const struct stat& entry) {
  if (S_ISDIR(entry.st_mode)) return "is a directory";
  if (S_ISFIFO(entry.st_mode)) return "is a FIFO, whose contents can be given on standard input (-)";
  if (S_ISSOCK(entry.st_mode)) return "is a socket";
  if (S_ISCHR(entry.st_mode) || S_ISBLK(entry.st_mode)) return "is a device";
  return nullptr;
}

}  // namespace

ResultFile read_result_file(const std::string& name) {
  if (name == "-") return parse_result_file(std::cin, "-");
  struct stat entry {};
  if (stat(name.c_str(), &entry) != 0) throw ParseError(name + ": cannot be read: " + std::strerror(errno));
  if (const char* kind = not_a_file(entry)) throw ParseError(name + ": " + kind + ", not a result file");
  errno = 0;
  std::ifstream in(name, std::ios::binary);
  if (!in) throw ParseError(name + ": cannot be read: " + (errno ? std::strerror(errno) : "unknown reason"));
  return parse_result_file(in, name);
}
