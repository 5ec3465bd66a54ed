#include "layouts.h"

#include "../cluster/statistics.h"

ReportBlock file_handling_single_lines(double seconds, double files_per_second) {
  const std::string spent = line("The system spent: ", seconds, " Secs.");
  return ReportBlock()
      .console_only(spent)
      .console_only(line("The system could process ", files_per_second, " Files/sec."))
      .console_only("")
      .file_only(spent)
      .file_only(line("The system could process  ", files_per_second, " Files/sec."))
      .file_only("");
}

ReportBlock file_handling_worker_lines(int rank, const std::string& name, double seconds,
                                       double files_per_second, const char* spent_suffix) {
  const std::string who = line("Thread:", rank, " @", name, " ");
  return ReportBlock()
      .both(line(who, "The system spent: ", seconds, spent_suffix))
      .both(line(who, "The system could process ", files_per_second, " Files/sec."));
}

ReportBlock file_handling_summary(double cluster_total, double single_process_figure, double average) {
  const std::string overall = line("Overall, The system could process: ", cluster_total, " Files/sec.");
  const std::string per_thread =
      line("Among all nodes, the average process per thread was: ", average, " Files/sec.");
  return ReportBlock()
      .both("")
      .both(overall)
      .both(line("Multi-Thread Improvements: ", improvement_ratio(cluster_total, single_process_figure), " times."))
      .both("")
      .console_only("")  // the console has one blank line more before the average
      .both(per_thread)
      .both("");
}

ReportBlock transfer_single_lines(double seconds, double rate, const char* spent_suffix) {
  return ReportBlock()
      .both(line("The system spent: ", seconds, spent_suffix))
      .both(line("It was: ", in_millions(rate), " Millions Accesses/sec."))
      .both(line("Conventionally, it was: ", in_megabytes(rate), " MB/sec."));
}

ReportBlock transfer_worker_lines(int rank, const std::string& name, double seconds, double rate,
                                  const char* spent_suffix) {
  const std::string who = line("Thread:", rank, " @", name, " ");
  const std::string it_was = line(who, "It was: ", in_millions(rate));
  return ReportBlock()
      .both(line(who, "The system spent: ", seconds, spent_suffix))
      .console_only(it_was + " Millions Access/sec.")
      .file_only(it_was + " Millions Accesses/sec.")
      .both(line("Conventionally, it was: ", in_megabytes(rate), " MB/sec."));
}

namespace {
ReportBlock blank_lines(int count) {
  ReportBlock block;
  for (int i = 0; i < count; ++i) block.both("");
  return block;
}

ReportBlock direction_totals(double total, double single, const char* direction, const char* verb) {
  return ReportBlock()
      .both(line("Overall, It was: ", in_millions(total), " Millions Accesses/sec.to ", direction))
      .both(line("Conventionally, total ", verb, " speed was: ", in_megabytes(total), " MB/sec."))
      .both(line("Multi-Thread Improvements: ", improvement_ratio(total, single), " times."));
}
}  // namespace

ReportBlock transfer_summary(const TransferSummaryLayout& layout, const TransferTotals& totals) {
  const std::string among = line("Among all nodes, the average ", layout.average_word, " ");
  return blank_lines(layout.blank_lines_before)
      .then(direction_totals(totals.write_total, totals.write_single, "Write", "writing"))
      .then(direction_totals(totals.read_total, totals.read_single, "Read", "reading"))
      .both("")
      .both(line(among, "writing process per thread was: ", in_megabytes(totals.write_average),
                 layout.write_average_unit))
      .both(line(among, "reading process per thread was: ", in_megabytes(totals.read_average),
                 layout.read_average_unit))
      .then(blank_lines(layout.blank_lines_after));
}
