// stelvane-mpi: a storage benchmark for clusters. Started by an MPI launcher
// as one process per rank; rank 0 measures alone first, then every worker
// rank measures at once and rank 0 reports each node's figures and the
// cluster's.
#include <iostream>

#include "failures.h"
#include "globals.h"
#include "report.h"
#include "result_file.h"
#include "workloads/block.h"
#include "workloads/bytewise.h"
#include "workloads/cluster_reports.h"
#include "workloads/file_handling.h"

namespace {

// Exit statuses beyond 0.
constexpr int EXIT_FAILED_MEASUREMENT = 1;  // a measurement failed, or the results were not saved
constexpr int EXIT_TOO_MANY_RANKS = 2;      // the job is larger than the rank tables

void run_rank_zero() {
  open_result_file_and_write_banner();
  tee(ReportBlock().both("Force to be single thread.").both(""));

  streams_single_phase();
  descriptors_single_phase();
  bytewise_single_phase();
  block_single_phase();

  if (nproc > 1) {
    streams_collection_report();
    descriptors_collection_report();
    bytewise_collection_report();
    block_collection_report();
  }
  end_of_run();
}

void run_worker() {
  streams_worker_share();
  descriptors_worker_share();
  bytewise_worker_share();
  block_worker_share();
}

}  // namespace

int main(int argc, char* argv[]) {
  MPI_Init(&argc, &argv);
  MPI_Comm_size(MPI_COMM_WORLD, &nproc);
  MPI_Comm_rank(MPI_COMM_WORLD, &iproc);
  MPI_Get_processor_name(proc_name, &nameLength);

  // Every per-rank table holds MAX_RANKS entries: a larger job is refused
  // before any of them is touched.
  if (nproc > MAX_RANKS) {
    if (iproc == 0)
      std::cerr << "stelvane-mpi: this job has " << nproc << " ranks, but the benchmark supports at most "
                << MAX_RANKS << "; nothing was measured" << std::endl;
    MPI_Finalize();
    return EXIT_TOO_MANY_RANKS;
  }

  if (iproc == 0)
    run_rank_zero();
  else
    run_worker();

  MPI_Finalize();
  return run_failed() ? EXIT_FAILED_MEASUREMENT : 0;
}
