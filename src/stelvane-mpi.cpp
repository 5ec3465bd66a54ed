// stelvane-mpi: a storage benchmark for clusters. Started by an MPI launcher
// as one process per rank; rank 0 measures alone first, then every worker
// rank measures at once and rank 0 reports each node's figures and the
// cluster's.
#include "cluster/exchange.h"
#include "failures.h"
#include "globals.h"
#include "measurements.h"
#include "open_files.h"
#include "rank0_output.h"
#include "stop_signals.h"
#include "test_hooks.h"
#include "report_lines.h"
#include "run_end.h"
#include "workloads/block.h"
#include "workloads/bytewise.h"
#include "workloads/cluster_reports.h"
#include "workloads/file_handling.h"
#include "workloads/layouts.h"
#include "workloads/measurement.h"

static_assert(MPI_MAX_PROCESSOR_NAME <= PROC_NAME_BYTES, "a processor name must fit the name buffers");

namespace {

// The two forms of a workload that measure: rank 0 alone, and a worker's share.
struct MeasuringPhases {
  void (*single_phase)();
  void (*worker_share)();
};

MeasuringPhases phases_of(Workload workload) {
  switch (workload) {
    case Workload::streams: return {streams_single_phase, streams_worker_share};
    case Workload::descriptors: return {descriptors_single_phase, descriptors_worker_share};
    case Workload::bytewise: return {bytewise_single_phase, bytewise_worker_share};
    case Workload::block: return {block_single_phase, block_worker_share};
  }
  return {};
}

// Rank 0's lines of a workload it does not measure, because the job is
// being ended: its figures are NaN, and the workers' reports that are in
// follow at once.
void skip_single_phase(Workload workload) {
  tee(single_phase_heading(workload));
  const WorkloadMeasurements ids = measurements_of(workload);
  for (int i = 0; i < ids.count(); ++i) {
    const FigureSlots own = measurement(ids.at(i)).single_slots();
    *own.spent = *own.result = FAILED_FIGURE;
    tee(single_figures(ids.at(i), *own.spent, *own.result));
  }
}

// Over some transports (Open MPI's TCP) every worker that reports holds one
// of rank 0's descriptors: where its limit leaves room for fewer, the others
// send nothing, rather than wedge rank 0's MPI in connections it cannot
// accept. Whether a peer costs a descriptor is seen, not guessed: rank 0
// counts its descriptors around its first word with the last rank, most
// likely on another node. Every rank takes part.
int workers_rank0_can_hear(std::uint64_t open_file_limit) {
  const std::string too_few_files = open_file_warning(open_file_limit, nproc);
  if (!too_few_files.empty()) write_error_line(too_few_files);
  test_hook_before_descriptor_count();
  const int before = open_descriptors();
  const bool answered = first_word_with_last_rank(iproc, nproc, ANSWER_MARGIN_SECONDS);
  const int after = open_descriptors();
  test_hook_descriptors_counted(before, after);
  // No answer tells nothing: then rank 0 holds to the limit as if it did.
  return workers_rank0_can_hold(open_file_limit, nproc, after, !answered || after > before);
}

void run_rank_zero(int reporting, std::uint64_t open_file_limit) {
  catch_stop_signals();
  take_greetings(reporting, open_file_limit);
  open_result_file_and_write_banner();
  tee(single_thread_notice());
  for (Workload workload : WORKLOAD_ORDER)
    stop_requested() ? skip_single_phase(workload) : phases_of(workload).single_phase();
  test_hook_mark("first_measurement", start_single_x);
  test_hook_mark("measured", MPI_Wtime());
  if (nproc > 1)
    for (Workload workload : WORKLOAD_ORDER) collection_report(workload);
  test_hook_mark("reported", MPI_Wtime());
  // Once the job is being ended nobody is left to press Enter.
  end_of_run(!stop_requested());
}

void run_worker() {
  ignore_warning_signal();
  iprocs[iproc] = iproc;
  send_greeting(iprocs[iproc]);
  for (Workload workload : WORKLOAD_ORDER) phases_of(workload).worker_share();
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before MPI opens its connections, which may be one per peer.
  const std::uint64_t open_file_limit = raise_open_file_limit();
  MPI_Init(&argc, &argv);
  MPI_Comm_size(MPI_COMM_WORLD, &nproc);
  MPI_Comm_rank(MPI_COMM_WORLD, &iproc);
  MPI_Get_processor_name(proc_name, &nameLength);

  // Every per-rank table holds MAX_RANKS entries: a larger job is refused
  // before any of them is touched.
  if (nproc > MAX_RANKS) {
    if (iproc == 0)
      write_error_line(line("stelvane-mpi: this job has ", nproc, " ranks, but the benchmark supports at most ",
                            MAX_RANKS, "; nothing was measured"));
    MPI_Finalize();
    return EXIT_TOO_MANY_RANKS;
  }

  int can_hear = 0;
  if (iproc == 0)
    can_hear = workers_rank0_can_hear(open_file_limit);
  else  // the last rank answers rank 0's first word; the others have none to answer
    first_word_with_last_rank(iproc, nproc, ANSWER_MARGIN_SECONDS);
  const int reporting = agree_on_reporting_workers(can_hear);
  if (iproc > reporting) return leave_unheard();
  if (iproc == 0)
    run_rank_zero(reporting, open_file_limit);
  else
    run_worker();

  test_hook_peak_memory();
  return leave_the_run();
}
