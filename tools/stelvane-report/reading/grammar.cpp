#include "reading/grammar.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "report_lines.h"
#include "workloads/report_outline.h"

namespace {

// Stand-ins the layouts print where a line holds a value: every number
// prints as "nan", a rank label as RANK_MARK, a processor name as NAME_MARK.
const double NUMBER_MARK = NAN;
constexpr int RANK_MARK = INT_MAX;
const std::string NAME_MARK = "\x01";

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
class GrammarBuilder {
 public:
  Grammar grammar;

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
      grammar.lines.push_back(std::move(expected));
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
void transfer_summary_of(GrammarBuilder& g, const ReportBlock& summary, const WorkloadMeasurements& ids) {
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

}  // namespace

Grammar grammar_for(int ranks) {
  GrammarBuilder g;
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
  return g.grammar;
}

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

bool parse_report_number(const std::string& text, double& value) {
  if (text.empty() || text.size() > 32) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return false;
  char printed[64];
  std::snprintf(printed, sizeof printed, "%g", value);
  return text == printed;
}
