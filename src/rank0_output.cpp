#include "rank0_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

#include "failures.h"
#include "globals.h"
#include "own_files.h"

namespace {
int result_file_errno = 0;   // first failure of the result file, 0 while it is fine
bool result_file_failed = false;

void note_result_file_state() {
  if (!fout && !result_file_failed) {
    result_file_failed = true;
    result_file_errno = errno;
  }
}
}  // namespace

void open_result_file_and_write_banner() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  // Without a local time the name still says where it comes from.
  const std::string name = local ? result_file_name(local->tm_zone, std::asctime(local), proc_name)
                                 : result_file_name("unknown", "unknown time", proc_name);
  std::snprintf(resultfile, sizeof resultfile, "%s", name.c_str());

  // A result file of this user's from the same second is replaced; any other
  // entry at the name stays, and the file is not saved.
  clear_own_leftover(0, proc_name, resultfile);
  errno = 0;
  fout.open(resultfile, EXCLUSIVE_TEXT_OUTPUT);
  note_result_file_state();
  tee(banner(nproc));
}

void tee(const ReportBlock& block) {
  write_lines(std::cout, block.console);
  write_lines(fout, block.file);
  note_result_file_state();
}

void end_of_run(bool wait_for_key) {
  tee(ReportBlock().both("").both(""));

  const std::string path = result_file_path(newbuffer, resultfile);
  std::snprintf(filepath, sizeof filepath, "%s", path.c_str());

  // Closed before the prompt, so the file is complete while the user reads it.
  fout.close();
  note_result_file_state();

  if (result_file_failed) {
    const char* reason = result_file_errno ? std::strerror(result_file_errno) : "write failed";
    write_error_line(line("stelvane-mpi: the results could not be saved to \"", path, "\": ", reason));
    mark_run_failed();
  } else {
    std::cout << "Results have been saved in a file and you can find it at: " << path << std::endl;
  }
  std::cout << std::endl << std::endl << "Press Enter to Exit." << std::endl;
  if (!wait_for_key) return;

  std::fflush(stdin);
  std::cin.get();
}
