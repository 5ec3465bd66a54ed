#include "result_reader.h"

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
#include "report_lines.h"
#include "workloads/report_outline.h"

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

// Stand-ins the layouts print where a line holds a value: every number
// prints as "nan", a rank label as RANK_MARK, a processor name as NAME_MARK.
const double NUMBER_MARK = NAN;
constexpr int RANK_MARK = INT_MAX;
const std::string NAME_MARK = "\x01";

// What the number of a line is. format_only: a figure the line repeats in
// other units (MB/s); it must be a number in the report's format, and is not
// stored.
enum class Field {
  none, rank0_seconds, rank0_figure, worker_seconds, worker_figure, total, improvement, average, format_only
};

// One piece of an expected line: literal text, or a value.
struct Piece {
  enum Kind { literal, number, rank, name } kind;
  std::string text;
};

struct ExpectedLine {
  std::vector<Piece> pieces;
  std::string shown;  // the line as an error message shows it
  int measurement = -1;
  Field field = Field::none;
  double scale = 1.0;  // printed value x scale = stored figure
  int worker = 0;      // rank of the worker whose line it is
  bool names_node = false;  // the line gives the worker's node name
};

std::vector<Piece> pieces_of(const std::string& line, std::string& shown) {
  static const std::string rank_text = std::to_string(RANK_MARK);
  std::vector<Piece> pieces;
  std::string literal;
  auto flush = [&] {
    if (!literal.empty()) pieces.push_back({Piece::literal, literal});
    literal.clear();
  };
  for (std::size_t i = 0; i < line.size();) {
    if (line.compare(i, 3, "nan") == 0) {
      flush();
      pieces.push_back({Piece::number, ""});
      shown += "{number}";
      i += 3;
    } else if (line.compare(i, rank_text.size(), rank_text) == 0) {
      flush();
      pieces.push_back({Piece::rank, ""});
      shown += "{rank}";
      i += rank_text.size();
    } else if (line.compare(i, NAME_MARK.size(), NAME_MARK) == 0) {
      flush();
      pieces.push_back({Piece::name, ""});
      shown += "{node}";
      i += NAME_MARK.size();
    } else {
      literal += line[i];
      shown += line[i];
      ++i;
    }
  }
  flush();
  return pieces;
}

// The expected lines of a result file, built block by block in the order the
// benchmark writes them.
class Grammar {
 public:
  std::vector<ExpectedLine> lines;

  // Adds a block's result-file lines; fields[i] says what line i holds.
  void add(const ReportBlock& block, int measurement = -1, std::vector<Field> fields = {},
           std::vector<double> scales = {}, int worker = 0) {
    for (std::size_t i = 0; i < block.file.size(); ++i) {
      ExpectedLine expected;
      expected.pieces = pieces_of(block.file[i], expected.shown);
      expected.measurement = measurement;
      expected.field = i < fields.size() ? fields[i] : Field::none;
      expected.scale = i < scales.size() ? scales[i] : 1.0;
      expected.worker = worker;
      for (const Piece& piece : expected.pieces) expected.names_node |= piece.kind == Piece::name;
      lines.push_back(std::move(expected));
    }
  }
};

constexpr double MILLIONS = MILLION;
constexpr double MEGABYTES = 1.0 / (MB_FACTOR * MB_FACTOR);
using F = Field;

// A report of `ranks` ranks whose every number, rank label and name is a mark.
ReportFigures marked_figures(int ranks) {
  ReportFigures figures;
  figures.ranks = ranks;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    figures.single_seconds[m] = figures.single_rate[m] = NUMBER_MARK;
    figures.workers[m].assign(ranks - 1, {RANK_MARK, NAME_MARK, NUMBER_MARK, NUMBER_MARK});
    figures.cluster[m] = {NUMBER_MARK, NUMBER_MARK, NUMBER_MARK};
  }
  return figures;
}

// The summary of a transfer workload: after its leading blank lines come the
// write total, its MB figure, its ratio, the same three for reading, a blank
// line, and the write and read averages.
void transfer_summary_of(Grammar& g, const ReportBlock& summary, const WorkloadMeasurements& ids) {
  std::size_t leading_blanks = 0;
  while (leading_blanks < summary.file.size() && summary.file[leading_blanks].empty()) ++leading_blanks;
  for (std::size_t i = 0; i < summary.file.size(); ++i) {
    ReportBlock one;
    one.file = {summary.file[i]};
    switch (static_cast<long>(i) - static_cast<long>(leading_blanks)) {
      case 0: g.add(one, ids.write(), {F::total}, {MILLIONS}); break;
      case 1: g.add(one, ids.write(), {F::format_only}); break;
      case 2: g.add(one, ids.write(), {F::improvement}); break;
      case 3: g.add(one, ids.read(), {F::total}, {MILLIONS}); break;
      case 4: g.add(one, ids.read(), {F::format_only}); break;
      case 5: g.add(one, ids.read(), {F::improvement}); break;
      case 7: g.add(one, ids.write(), {F::average}, {MEGABYTES}); break;
      case 8: g.add(one, ids.read(), {F::average}, {MEGABYTES}); break;
      default: g.add(one);
    }
  }
}

// The whole report in the order the benchmark writes it, each line with
// what its number means.
Grammar grammar_for(int ranks) {
  Grammar g;
  const ReportFigures marks = marked_figures(ranks);
  for_each_block(ranks, [&](const OutlineBlock& block) {
    const ReportBlock lines = report_block(block, marks);
    const MeasurementId m = block.measurement;
    const double figure_scale = is_file_handling(m) ? 1.0 : MILLIONS;
    switch (block.kind) {
      case BlockKind::single_figures:
        g.add(lines, m, {F::rank0_seconds, F::rank0_figure, F::format_only}, {1.0, figure_scale, MEGABYTES});
        break;
      case BlockKind::worker_figures:
        g.add(lines, m, {F::worker_seconds, F::worker_figure, F::format_only}, {1.0, figure_scale, MEGABYTES},
              block.worker);
        break;
      case BlockKind::summary: {
        const WorkloadMeasurements ids = measurements_of(block.workload);
        if (ids.count() == 1)
          g.add(lines, ids.first, {F::none, F::total, F::improvement, F::none, F::average});
        else
          transfer_summary_of(g, lines, ids);
        break;
      }
      default: g.add(lines);
    }
  });
  return g;
}

// What one line gave: its number, rank label and node name where it has them.
struct Matched {
  double number = NO_FIGURE;
  int rank = -1;
  std::string name;
};

std::optional<Matched> match(const ExpectedLine& expected, const std::string& line) {
  Matched found;
  std::size_t at = 0;
  const auto& pieces = expected.pieces;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& piece = pieces[i];
    const std::string* next = i + 1 < pieces.size() && pieces[i + 1].kind == Piece::literal ? &pieces[i + 1].text
                                                                                           : nullptr;
    if (piece.kind == Piece::literal) {
      if (line.compare(at, piece.text.size(), piece.text) != 0) return std::nullopt;
      at += piece.text.size();
    } else if (piece.kind == Piece::name) {
      // A node name may hold blanks and "@": it ends where the last
      // occurrence of the text after it begins.
      const std::size_t end = next ? line.rfind(*next) : line.size();
      if (end == std::string::npos || end < at) return std::nullopt;
      found.name = line.substr(at, end - at);
      at = end;
    } else {
      const std::size_t end = line.find(' ', at);
      const std::string token = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
      at += token.size();
      if (piece.kind == Piece::rank) {
        if (token.empty() || token.find_first_not_of("0123456789") != std::string::npos || token.size() > 9)
          return std::nullopt;
        found.rank = std::atoi(token.c_str());
      } else if (!parse_report_number(token, found.number)) {
        return std::nullopt;
      }
    }
  }
  if (at != line.size()) return std::nullopt;
  return found;
}

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

// Whether `line`, cut short, could be the beginning of the expected line:
// its literal text agrees as far as it goes, and a number, rank or name may
// stop anywhere.
bool could_begin(const ExpectedLine& expected, const std::string& line) {
  std::size_t at = 0;
  for (const Piece& piece : expected.pieces) {
    if (at == line.size()) return true;
    if (piece.kind == Piece::literal) {
      const std::size_t compared = std::min(piece.text.size(), line.size() - at);
      if (line.compare(at, compared, piece.text, 0, compared) != 0) return false;
      at += compared;
    } else if (piece.kind == Piece::name) {
      return true;  // a name may hold anything, up to the cut
    } else {
      const std::size_t end = line.find(' ', at);
      if (end == std::string::npos) return true;
      at = end;
    }
  }
  return at == line.size();
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

bool parse_report_number(const std::string& text, double& value) {
  if (text.empty() || text.size() > 32) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return false;
  char printed[64];
  std::snprintf(printed, sizeof printed, "%g", value);
  return text == printed;
}

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
