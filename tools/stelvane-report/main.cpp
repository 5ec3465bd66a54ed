// stelvane-report: reads stelvane-mpi result files and tells which nodes are
// slow, as a text summary, JSON, CSV or an HTML page with charts.
#include <CLI/CLI.hpp>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "judging/history.h"
#include "reading/group_file.h"
#include "reading/history_files.h"
#include "reading/result_reader.h"
#include "report.h"
#include "writing/prometheus.h"

namespace {

constexpr int EXIT_UNREADABLE = 1;  // a file could not be read or is not a result file
constexpr int EXIT_USAGE = 2;       // the command line is wrong
constexpr int EXIT_TRUNCATED = 3;   // a file stops part way; what it held is still shown

std::string description() {
  return "Reads stelvane-mpi result files (or standard input, given as -) and says which nodes are slow, then "
         "shows, per measurement, rank 0's own figure, the cluster total and the spread of the workers' figures.\n\n"
         "Each node's figure is held against the other nodes' median, and with --history against its own normal "
         "too: a node is slow when low in at least " + std::to_string(SLOW_MEASUREMENTS) +
         " measurements, or low against its own normal in run after run; suspect when low in one; failed when a "
         "figure of one of its ranks is nan. The rule in full, with its lines and probable causes: "
         "man stelvane-report, under \"The verdict\".\n\n"
         "Exit status: 0 all files read; 1 a file could not be read or is no result file; 2 usage error; "
         "3 a file stops part way (its contents are still shown).";
}

}  // namespace

int main(int argc, char* argv[]) {
  CLI::App app{description(), "stelvane-report"};
  std::vector<std::string> names;
  bool json = false, csv = false, drain = false;
  std::string html_path, baseline_name, prometheus_path;
  std::vector<std::string> history_paths;
  std::string groups_path, slurm_nodes_path;
  app.add_option("FILE", names, "result files to read; - for standard input")->required();
  auto* json_flag = app.add_flag("--json", json, "print JSON instead of the summary");
  auto* csv_flag = app.add_flag("--csv", csv, "print CSV instead of the summary")->excludes(json_flag);
  app.add_flag("--drain", drain,
               "print, for each slow or failed node, the Slurm command that drains it, instead of the summary "
               "(printed, never run; a node whose name is not a plain host name is left out, with a note)")
      ->excludes(json_flag)
      ->excludes(csv_flag);
  app.add_option("--html", html_path, "also write a self-contained HTML page of the results to this file");
  app.add_option("--prometheus", prometheus_path,
                 "also write the verdict of the latest run as metrics for node_exporter's textfile collector to this "
                 "file (written whole: into a temporary file beside it, then renamed)");
  app.add_option("--baseline", baseline_name,
                 "compare with this earlier run: name the nodes that got slower than the cluster as a whole since; "
                 "with several FILEs, each node's history over all of them, in the order of their time stamps");
  app.add_option("--history", history_paths,
                 "also hold each node against its own normal, from the earlier runs in this folder (every file in it "
                 "named as the benchmark names its result files; an index of them is kept there, " +
                     std::string(HISTORY_INDEX_NAME) + ") or this result file; may be given again")
      ->excludes("--baseline");
  auto* groups_option = app.add_option(
      "--groups", groups_path,
      "judge each node against the others of its group, as this file declares them: one group a line, its name, a "
      "blank and a Slurm host list (gen3 node[0001-0448],gpu[01-16]); # begins a comment");
  app.add_option("--slurm-nodes", slurm_nodes_path,
                 "the same, a group per set of active features, from this file saved from `scontrol show nodes`")
      ->excludes(groups_option);
  app.set_version_flag("--version", STELVANE_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : EXIT_USAGE;
  }

  std::vector<ResultFile> files;
  try {
    if (!baseline_name.empty()) files.push_back(read_result_file(baseline_name));
    for (const std::string& name : names) files.push_back(read_result_file(name));
  } catch (const ParseError& error) {
    std::cerr << "stelvane-report: " << error.what() << std::endl;
    return EXIT_UNREADABLE;
  }

  std::vector<DeclaredGroup> declared;
  try {
    if (!groups_path.empty()) declared = read_group_file(groups_path);
    if (!slurm_nodes_path.empty()) declared = read_slurm_nodes(slurm_nodes_path);
  } catch (const ParseError& error) {
    std::cerr << "stelvane-report: " << error.what() << std::endl;
    return EXIT_USAGE;
  }
  const bool declaring = !groups_path.empty() || !slurm_nodes_path.empty();

  History history;
  if (!history_paths.empty()) history = read_history(
        history_paths,
        {[](const ResultFile& file) { return summarize(file, judge_nodes(file)); }, peer_rule_text()}, std::cerr);
  const Report report = prepare_report(files, !baseline_name.empty(), history_paths.empty() ? nullptr : &history.runs,
                                       declaring ? &declared : nullptr);
  if (report.runs_in_given_order)
    std::cerr << "stelvane-report: not every file name carries the run's time stamp; the runs are taken in the "
                 "order given" << std::endl;
  write_report(std::cout, std::cerr, report,
               json ? Format::json : csv ? Format::csv : drain ? Format::drain : Format::text);

  if (!html_path.empty()) {
    errno = 0;
    std::ofstream page(html_path);
    write_report_page(page, report);
    page.close();
    if (!page) {
      std::cerr << "stelvane-report: cannot write " << html_path << ": "
                << (errno ? std::strerror(errno) : "unknown reason") << std::endl;
      return EXIT_UNREADABLE;
    }
  }

  if (!prometheus_path.empty()) {
    std::string why;
    if (!write_prometheus_file(prometheus_path, latest_run(report), why)) {
      std::cerr << "stelvane-report: cannot write " << prometheus_path << ": " << why << std::endl;
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
