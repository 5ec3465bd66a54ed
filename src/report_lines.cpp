#include "report_lines.h"

#include <cstring>

namespace {
const char* const PRODUCT_LINE =
    "Vantrel :: Corvada Benchmark Stelvane Lite for NetBSD Clusters on Sparc 64bit system 2022.02.17.";
const char* const NOTICE_LINE =
    "Measures each node's local file system; scratch files stay in the working directory.";
const char* const SUPPORT_LINE = "For Support: stelvane-support@vantrel.example";
}  // namespace

ReportBlock& ReportBlock::both(const std::string& text) {
  console.push_back(text);
  file.push_back(text);
  return *this;
}

ReportBlock& ReportBlock::console_only(const std::string& text) {
  console.push_back(text);
  return *this;
}

ReportBlock& ReportBlock::file_only(const std::string& text) {
  file.push_back(text);
  return *this;
}

ReportBlock& ReportBlock::then(const ReportBlock& next) {
  console.insert(console.end(), next.console.begin(), next.console.end());
  file.insert(file.end(), next.file.begin(), next.file.end());
  return *this;
}

void write_lines(std::ostream& out, const std::vector<std::string>& lines) {
  for (const std::string& text : lines) out << text << std::endl;
}

std::string result_file_name(const char* zone, const char* asctime_text, const char* processor) {
  std::string stamp = asctime_text ? asctime_text : "";
  while (!stamp.empty() && stamp.back() == '\n') stamp.pop_back();
  return line("results_stelvane_lite_netbsd_sparc64_clusters @ ", zone ? zone : "", " time ", stamp,
              " @ ", processor, ".txt");
}

std::string result_file_path(const char* working_directory, const std::string& name) {
  if (working_directory == nullptr || *working_directory == '\0') return name;
  return line(working_directory, "/", name);
}

ReportBlock banner(int rank_count) {
  const std::string threads = line("Thread(s): ", rank_count);
  ReportBlock block;
  block.console = {"", PRODUCT_LINE, NOTICE_LINE, SUPPORT_LINE, "", "", "", threads, ""};
  block.file = {PRODUCT_LINE, "", threads, ""};
  return block;
}

ReportBlock single_thread_notice() { return ReportBlock().both("Force to be single thread.").both(""); }

ReportBlock blank_lines(int count) {
  ReportBlock block;
  for (int i = 0; i < count; ++i) block.both("");
  return block;
}

ReportBlock closing_blank_lines() { return blank_lines(2); }
