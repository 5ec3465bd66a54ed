// stelvane-report: reads stelvane-mpi result files and tells which nodes are
// slow, as a text summary, JSON, CSV or an HTML page with charts.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>

#include "analysis.h"
#include "outputs.h"
#include "result_reader.h"

namespace {

constexpr int EXIT_UNREADABLE = 1;  // a file could not be read or is not a result file
constexpr int EXIT_USAGE = 2;       // the command line is wrong
constexpr int EXIT_TRUNCATED = 3;   // a file stops part way; what it held is still shown

const char* const DESCRIPTION =
    "Reads stelvane-mpi result files (or standard input, given as -) and prints, per measurement, rank 0's "
    "own figure, the cluster total, the spread of the workers' figures and the slow nodes.\n\n"
    "A worker is slow when its figure is more than 3.5 robust z-scores below the median of the workers' "
    "figures (z = 0.6745 (figure - median) / MAD, MAD the median absolute deviation) and also below half "
    "that median. Workers whose measurement failed (nan) are listed as failed, never as slow.\n\n"
    "Exit status: 0 all files read; 1 a file could not be read or is no result file; 2 usage error; "
    "3 a file stops part way (its contents are still shown).";

ResultFile read_one(const std::string& name) {
  if (name == "-") return parse_result_file(std::cin, "-");
  std::ifstream in(name, std::ios::binary);
  if (!in) throw ParseError(name + ": cannot be opened");
  return parse_result_file(in, name);
}

}  // namespace

int main(int argc, char* argv[]) {
  CLI::App app{DESCRIPTION, "stelvane-report"};
  std::vector<std::string> names;
  bool json = false, csv = false;
  std::string html_path;
  app.add_option("FILE", names, "result files to read; - for standard input")->required();
  auto* json_flag = app.add_flag("--json", json, "print JSON instead of the summary");
  app.add_flag("--csv", csv, "print CSV instead of the summary")->excludes(json_flag);
  app.add_option("--html", html_path, "also write an HTML page with a chart per measurement to this file");
  app.set_version_flag("--version", STELVANE_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : EXIT_USAGE;
  }

  std::vector<ResultFile> files;
  try {
    for (const std::string& name : names) files.push_back(read_one(name));
  } catch (const ParseError& error) {
    std::cerr << "stelvane-report: " << error.what() << std::endl;
    return EXIT_UNREADABLE;
  }

  if (json)
    write_json(std::cout, files);
  else if (csv)
    write_csv(std::cout, files);
  else
    write_text(std::cout, files);

  if (!html_path.empty()) {
    std::ofstream page(html_path);
    write_html(page, files);
    page.close();
    if (!page) {
      std::cerr << "stelvane-report: cannot write " << html_path << std::endl;
      return EXIT_UNREADABLE;
    }
  }

  int status = 0;
  for (const ResultFile& file : files)
    if (!file.complete) {
      std::cerr << "stelvane-report: " << file.source << " is truncated: " << file.truncation << std::endl;
      status = EXIT_TRUNCATED;
    }
  return status;
}
