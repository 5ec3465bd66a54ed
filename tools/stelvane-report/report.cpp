#include "report.h"

#include <algorithm>

#include "writing/drain.h"
#include "writing/outputs.h"

Report prepare_report(const std::vector<ResultFile>& files, bool comparing, const std::vector<RunSummary>* history,
                      const std::vector<DeclaredGroup>* declared) {
  Report report;
  report.files = &files;
  for (const ResultFile& file : files) report.judged.push_back({&file, judge_nodes(file, declared)});
  if (history != nullptr) judge_against_history(report.judged, *history, declared);
  report.comparing = comparing && files.size() >= 2;
  if (!report.comparing) return report;
  for (const ResultFile& file : files) report.runs.push_back(&file);
  report.runs_in_given_order =
      !order_by_start(report.runs, [](const ResultFile* run) -> const RunStamp& { return run->stamp; });
  // The latest run other than the baseline is the one compared with it.
  const ResultFile* latest = nullptr;
  for (const ResultFile* run : report.runs)
    if (run != &files.front()) latest = run;
  report.comparison = compare_runs(files.front(), *latest);
  return report;
}

void write_report(std::ostream& out, std::ostream& notes, const Report& report, Format format) {
  // The drain list is of the runs as they stand, the latest one among them.
  if (format == Format::drain) return write_drain(out, notes, report.judged);
  if (report.comparing) {
    switch (format) {
      case Format::json: return write_comparison_json(out, report.runs, report.comparison);
      case Format::csv: return write_comparison_csv(out, report.runs, report.comparison);
      case Format::text:
      case Format::drain: return write_comparison_text(out, report.runs, report.comparison);
    }
  }
  switch (format) {
    case Format::json: return write_json(out, report.judged);
    case Format::csv: return write_csv(out, report.judged);
    case Format::text:
    case Format::drain: return write_text(out, report.judged);
  }
}

void write_report_page(std::ostream& out, const Report& report) {
  write_html(out, report.judged, report.comparing ? &report.comparison : nullptr);
}

const JudgedRun& latest_run(const Report& report) {
  return latest_by_start(report.judged, [](const JudgedRun& run) -> const RunStamp& { return run.file->stamp; });
}
