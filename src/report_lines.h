// The lines of rank 0's report and the blocks they come in, free of MPI and
// of the run state: the benchmark writes them, stelvane-report builds its
// grammar from them.
//
// A report block holds the lines one piece of the report sends to the console
// and the lines it sends to the result file. The two often differ by a blank
// or a word; only the order within each stream matters.
#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

struct ReportBlock {
  std::vector<std::string> console;
  std::vector<std::string> file;

  ReportBlock& both(const std::string& line);
  ReportBlock& console_only(const std::string& line);
  ReportBlock& file_only(const std::string& line);
  ReportBlock& then(const ReportBlock& next);  // appends next's lines
};

// Joins the pieces of one line, numbers in the stream's default format
// (six significant digits, %g style), as std::cout and the result file print them.
template <class... Pieces>
std::string line(const Pieces&... pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  return text.str();
}

// Writes each line followed by std::endl (newline and flush).
void write_lines(std::ostream& out, const std::vector<std::string>& lines);

// The result-file name: time-zone abbreviation, the asctime text without its
// trailing newline, and the processor name.
std::string result_file_name(const char* zone, const char* asctime_text, const char* processor);

// The full path shown to the user: the working directory captured at start,
// "/" and the name; the bare name when the directory is unknown.
std::string result_file_path(const char* working_directory, const std::string& name);

// The banner: its console form and its result-file form.
ReportBlock banner(int rank_count);

// The line after the banner, before rank 0 measures alone, and its blank line.
ReportBlock single_thread_notice();

// `count` blank lines on each stream.
ReportBlock blank_lines(int count);

// The blank lines on each stream after the last report line, before the
// closing lines.
ReportBlock closing_blank_lines();
