#include "layouts.h"

namespace {

const char* const MULTI_RANK_LINE = "Multi-Thread Enabled:";
const char* const STREAMS_TITLE = "Power of Handling Files -- Lower";
const char* const DESCRIPTORS_TITLE = "Power of Handling Files -- Higher";
const char* const DESCRIPTORS_SINGLE_CONSOLE_TITLE = "Power of Handling Files -- Hihger";  // rank 0's console only
const char* const BYTEWISE_HEADING = "Low writing and reading speeds:";
const char* const BLOCK_HEADING = "High writing and reading speeds:";

// Ends of the "The system spent: " lines.
const char* const SECS = " Secs.";
const char* const SECS_TO_WRITE = " Secs. to Write.";
const char* const SECS_TO_READ = " Secs. to Read.";
const char* const SECS_TO_READ_ALONE = " Secs. to Read:";  // rank 0's read lines end in a colon

struct SpentLine {
  const char* single_end;          // on rank 0's line
  const char* worker_end;          // on a worker's line
  int blank_lines_after_single;    // closing rank 0's block of its workload
};

SpentLine spent_line(MeasurementId measurement) {
  switch (measurement) {
    case STREAMS:
    case DESCRIPTORS: return {SECS, SECS, 0};
    case BYTEWISE_WRITE: return {SECS_TO_WRITE, SECS_TO_WRITE, 0};
    case BYTEWISE_READ: return {SECS_TO_READ_ALONE, SECS_TO_READ, 1};
    case BLOCK_READ: return {SECS_TO_READ_ALONE, SECS_TO_READ, 0};
    case BLOCK_WRITE: return {SECS_TO_WRITE, SECS_TO_WRITE, 2};
  }
  return {SECS, SECS, 0};
}

// A title and a blank line, spelled per stream.
ReportBlock title_block(const char* console_title, const char* file_title) {
  return ReportBlock().console_only(console_title).console_only("").file_only(file_title).file_only("");
}

ReportBlock heading_block(const char* heading) { return ReportBlock().both(heading).both(""); }

ReportBlock file_handling_single_lines(double seconds, double files_per_second) {
  const std::string spent = line("The system spent: ", seconds, SECS);
  return ReportBlock()
      .console_only(spent)
      .console_only(line("The system could process ", files_per_second, " Files/sec."))
      .console_only("")
      .file_only(spent)
      .file_only(line("The system could process  ", files_per_second, " Files/sec."))
      .file_only("");
}

ReportBlock transfer_single_lines(double seconds, double rate, const char* spent_end) {
  return ReportBlock()
      .both(line("The system spent: ", seconds, spent_end))
      .both(line("It was: ", in_millions(rate), " Millions Accesses/sec."))
      .both(line("Conventionally, it was: ", in_megabytes(rate), " MB/sec."));
}

// How the summaries of the two transfer workloads differ.
struct TransferSummaryLayout {
  int blank_lines_before;
  const char* average_word;        // "low" or "high"
  const char* write_average_unit;  // " MB/sec." or "  MB/sec."
  const char* read_average_unit;
  int blank_lines_after;
};

TransferSummaryLayout transfer_summary_layout(Workload workload) {
  if (workload == Workload::bytewise) return {2, "low", " MB/sec.", "  MB/sec.", 2};
  return {1, "high", "  MB/sec.", "  MB/sec.", 0};
}

ReportBlock direction_totals(const ClusterFigures& figures, const char* direction, const char* verb) {
  return ReportBlock()
      .both(line("Overall, It was: ", in_millions(figures.total), " Millions Accesses/sec.to ", direction))
      .both(line("Conventionally, total ", verb, " speed was: ", in_megabytes(figures.total), " MB/sec."))
      .both(line("Multi-Thread Improvements: ", figures.ratio, " times."));
}

}  // namespace

ReportBlock single_phase_heading(Workload workload) {
  switch (workload) {
    case Workload::streams: return title_block(STREAMS_TITLE, STREAMS_TITLE);
    case Workload::descriptors: return title_block(DESCRIPTORS_SINGLE_CONSOLE_TITLE, DESCRIPTORS_TITLE);
    case Workload::bytewise: return heading_block(BYTEWISE_HEADING);
    case Workload::block: return heading_block(BLOCK_HEADING);
  }
  return {};
}

ReportBlock single_figures(MeasurementId measurement, double seconds, double rate) {
  const SpentLine spent = spent_line(measurement);
  ReportBlock block = is_file_handling(measurement) ? file_handling_single_lines(seconds, rate)
                                                    : transfer_single_lines(seconds, rate, spent.single_end);
  return block.then(blank_lines(spent.blank_lines_after_single));
}

ReportBlock collection_heading(Workload workload) {
  switch (workload) {
    case Workload::streams: return ReportBlock().both(MULTI_RANK_LINE).then(heading_block(STREAMS_TITLE));
    // Follows the streams report directly, which opened the multi-rank part.
    case Workload::descriptors: return heading_block(DESCRIPTORS_TITLE);
    case Workload::bytewise: return ReportBlock().both(MULTI_RANK_LINE).then(heading_block(BYTEWISE_HEADING));
    case Workload::block: return ReportBlock().both(MULTI_RANK_LINE).then(heading_block(BLOCK_HEADING));
  }
  return {};
}

ReportBlock worker_figures(MeasurementId measurement, int rank, const std::string& name, double seconds,
                           double rate) {
  const std::string who = line("Thread:", rank, " @", name, " ");
  const std::string spent = line(who, "The system spent: ", seconds, spent_line(measurement).worker_end);
  if (is_file_handling(measurement))
    return ReportBlock().both(spent).both(line(who, "The system could process ", rate, " Files/sec."));
  const std::string it_was = line(who, "It was: ", in_millions(rate));
  return ReportBlock()
      .both(spent)
      .console_only(it_was + " Millions Access/sec.")
      .file_only(it_was + " Millions Accesses/sec.")
      .both(line("Conventionally, it was: ", in_megabytes(rate), " MB/sec."));
}

ReportBlock file_handling_summary(const ClusterFigures& figures) {
  return ReportBlock()
      .both("")
      .both(line("Overall, The system could process: ", figures.total, " Files/sec."))
      .both(line("Multi-Thread Improvements: ", figures.ratio, " times."))
      .both("")
      .console_only("")  // the console has one blank line more before the average
      .both(line("Among all nodes, the average process per thread was: ", figures.average, " Files/sec."))
      .both("");
}

ReportBlock transfer_summary(Workload workload, const ClusterFigures& write, const ClusterFigures& read) {
  const TransferSummaryLayout layout = transfer_summary_layout(workload);
  const std::string among = line("Among all nodes, the average ", layout.average_word, " ");
  return blank_lines(layout.blank_lines_before)
      .then(direction_totals(write, "Write", "writing"))
      .then(direction_totals(read, "Read", "reading"))
      .both("")
      .both(line(among, "writing process per thread was: ", in_megabytes(write.average), layout.write_average_unit))
      .both(line(among, "reading process per thread was: ", in_megabytes(read.average), layout.read_average_unit))
      .then(blank_lines(layout.blank_lines_after));
}
