// libFuzzer target: any bytes as one result file, or as a baseline and a
// later run, through the reader and every output stelvane-report has.
//
// The first byte chooses: bit 0, a baseline pair (the rest split at its
// first NUL, which no result file holds); bit 1, file names that carry the
// run's stamp (so rank 0's node is known, and runs are ordered by time);
// bit 2, each file also held against the others as its history, twice over
// (so that a node has runs enough for an own normal).
// A reader error is an answer, not a finding; an abort, a sanitizer report,
// a hang or a JSON output that does not parse is.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "judging/history.h"
#include "writing/prometheus.h"
#include "report.h"

namespace {

const char* const STAMPED_NAMES[] = {
    "results_stelvane_lite_netbsd_sparc64_clusters @ UTC time Mon Dec  7 01:17:13 2026 @ cn0000.txt",
    "results_stelvane_lite_netbsd_sparc64_clusters @ UTC time Tue Dec  8 01:17:13 2026 @ cn0000.txt"};
const char* const PLAIN_NAMES[] = {"baseline.txt", "run.txt"};

void write_every_output(const Report& report) {
  for (Format format : {Format::text, Format::json, Format::csv, Format::drain}) {
    std::ostringstream out, notes;
    write_report(out, notes, report, format);
    if (format == Format::json && !nlohmann::json::accept(out.str())) std::abort();
  }
  std::ostringstream page, metrics;
  write_report_page(page, report);
  write_prometheus(metrics, latest_run(report));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool pair = data[0] & 1;
  const char* const* names = (data[0] & 2) ? STAMPED_NAMES : PLAIN_NAMES;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> texts;
  const std::size_t split = pair ? rest.find('\0') : std::string::npos;
  if (split == std::string::npos) {
    texts = {rest};
  } else {
    texts = {rest.substr(0, split), rest.substr(split + 1)};
  }

  std::vector<ResultFile> files;
  try {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      std::istringstream in(texts[i]);
      files.push_back(parse_result_file(in, names[i]));
    }
  } catch (const ParseError&) {
    return 0;
  }
  if (data[0] & 4) {
    std::vector<RunSummary> history;
    for (int copy = 0; copy < 6; ++copy)
      for (const ResultFile& file : files) history.push_back(summarize(file, judge_nodes(file)));
    write_every_output(prepare_report(files, false, &history));
  } else {
    write_every_output(prepare_report(files, files.size() == 2));
  }
  return 0;
}
