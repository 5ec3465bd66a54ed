#include "run_end.h"

#include <mpi.h>

#include <chrono>
#include <thread>
#include <vector>

#include "cluster/exchange.h"
#include "failures.h"
#include "globals.h"
#include "report_lines.h"
#include "sizes.h"
#include "stop_signals.h"
#include "test_hooks.h"
#include "workloads/cluster_reports.h"

namespace {

void pause_for_the_grace() {
  test_hook_grace_begins();
  std::this_thread::sleep_for(std::chrono::duration<double>(END_GRACE_SECONDS));
}

// Rank 0 tells the workers left that the run is over, for the job to be
// ended: each of them then ends it. Some launchers (hydra) end at the first
// rank's MPI_Abort and drop what is still on its way from rank 0's output,
// the lines that name the lost: unless a signal is ending the job, rank 0
// gives its output that long first.
void tell_the_others_to_end(const std::vector<int>& workers) {
  if (!stop_requested()) pause_for_the_grace();
  tell_run_is_over(workers);
}

// Rank 0, once the report is written: waits for every worker to come to the
// end of the run, for at most the margin for late starters; true when all
// came. A worker that answered everything and then hung or died is named,
// and the others are told the run is over, for rank 0 to end the job.
bool every_worker_came_to_the_end() {
  const EndOfRun end = wait_for_all(ANSWER_MARGIN_SECONDS);
  if (end.all) return true;
  for (int worker : end.missing)
    write_error_line(not_at_the_end_line(worker, node_of_worker(worker), ANSWER_MARGIN_SECONDS));
  // Each said it was at the end, yet the barrier is not done: one stopped
  // between its word and the barrier, and which one cannot be told.
  if (end.missing.empty())
    write_error_line(line("stelvane-mpi: not every rank came to the end of the run within ", ANSWER_MARGIN_SECONDS,
                          " s of the report's end; the job is ended, and every figure is in the report"));
  tell_the_others_to_end(end.at_the_end);
  return false;
}

// Rank 0, with its report saved. When the launcher is ending the job, rank
// 0 ends as it was told. A worker that was given up cannot come to the end
// with the others, so rank 0 ends the job: MPI_Abort ends every rank under
// most launchers; where the launcher lets ranks run on after one ends
// (hydra -disable-auto-cleanup), the workers end on rank 0's word.
void rank0_waits_for_the_end() {
  if (job_being_ended()) end_by_stop_signal();
  if (workers_lost() || stop_requested()) {
    tell_the_others_to_end(answering_workers());
    MPI_Abort(MPI_COMM_WORLD, EXIT_CUT_SHORT);
  }
  if (!every_worker_came_to_the_end()) MPI_Abort(MPI_COMM_WORLD, EXIT_CUT_SHORT);
}

void worker_comes_to_the_end() {
  finish_reports();
  if (!come_to_the_end()) MPI_Abort(MPI_COMM_WORLD, EXIT_CUT_SHORT);
}

}  // namespace

// No rank leaves before rank 0 has written the whole report. A worker that
// failed a measurement ends with a non-zero status, and some launchers end
// the whole job at once when a rank does (srun --kill-on-bad-exit);
// MPI_Finalize holds the ranks back under mpirun, but not under every
// launcher. A worker that hangs or dies after its last report must not keep
// the job until its time limit: rank 0 waits for the end only so long.
int leave_the_run() {
  if (iproc == 0)
    rank0_waits_for_the_end();
  else
    worker_comes_to_the_end();
  MPI_Finalize();
  test_hook_after_finalize(iproc);
  if (!run_failed()) return 0;
  // Rank 0's non-zero status ends the job under some launchers: the
  // workers, gone from MPI by now, get the time to leave with their own.
  if (iproc == 0) pause_for_the_grace();
  return EXIT_FAILED_MEASUREMENT;
}

int leave_unheard() {
  MPI_Finalize();
  return 0;
}
