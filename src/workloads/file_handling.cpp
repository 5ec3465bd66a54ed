#include "file_handling.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "../cluster/exchange.h"
#include "../failures.h"
#include "../globals.h"
#include "../result_file.h"
#include "layouts.h"
#include "measure.h"
#include "scratch_names.h"

namespace {

// One cycle through a reused pair of streams: the file is created (or
// truncated), opened for input, closed twice and removed; nothing is written.
struct StreamCycle {
  std::ofstream& out;
  std::ifstream& in;

  void operator()(const char* name, OpFailures& failures) const {
    out.open(name, std::ios::out | std::ios::binary);
    const int open_error = out.is_open() ? 0 : errno;
    in.open(name, std::ios::in | std::ios::binary);
    in.close();
    out.close();
    const int remove_error = std::remove(name) == 0 ? 0 : errno;
    if (open_error | remove_error) [[unlikely]]
      failures.note(open_error ? open_error : remove_error);
  }
};

// One cycle through the operating system's calls: open without truncation,
// close, remove.
struct DescriptorCycle {
  int& descriptor;

  void operator()(const char* name, OpFailures& failures) const {
    descriptor = open(name, O_RDWR | O_CREAT, 0777);
    const int open_error = descriptor >= 0 ? 0 : errno;
    close(descriptor);
    const int remove_error = std::remove(name) == 0 ? 0 : errno;
    if (open_error | remove_error) [[unlikely]]
      failures.note(open_error ? open_error : remove_error);
  }
};

// Rank 0 handles one fixed name; a worker formats its own name in every
// cycle, inside the timed loop.
template <class Cycle, class Name>
void measure_cycles(const Cycle& cycle, const Name& next_name, const FigureSlots& figures,
                    const char* what) {
  time_measurement(figures, {what, next_name.text(), FILE_HANDLING_CYCLES, "cycles"}, [&](OpFailures& failures) {
    for (std::uint64_t i = 0; i < FILE_HANDLING_CYCLES; ++i) cycle(next_name(), failures);
    return static_cast<double>(FILE_HANDLING_CYCLES);
  });
}

// What differs between the two workloads besides the cycle body.
struct FileHandlingWorkload {
  const char* console_title;  // single-process title on the console
  const char* title;          // every other title
  const char* single_scratch;
  FigureSlots single;
  const Measurement& measurement;
  double* worker_start;
  double* worker_end;
  char* worker_name;
};

const FileHandlingWorkload streams = {
    STREAMS_TITLE, STREAMS_TITLE, STREAMS_SINGLE_SCRATCH,
    {&start_single_x, &end_single_x, &spent_single_x, &result_single_x},
    streams_measurement, start_x, end_x, filename};

const FileHandlingWorkload descriptors = {
    DESCRIPTORS_SINGLE_CONSOLE_TITLE, DESCRIPTORS_TITLE, DESCRIPTORS_SINGLE_SCRATCH,
    {&start_single_x1, &end_single_x1, &spent_single_x1, &result_single_x1},
    descriptors_measurement, start_xx, end_xx, filenamex};

template <class Cycle>
void single_phase(const FileHandlingWorkload& workload, const Cycle& cycle) {
  tee(title_block(workload.console_title, workload.title));
  measure_cycles(cycle, FixedName{workload.single_scratch}, workload.single, workload.measurement.what);
  tee(file_handling_single_lines(*workload.single.spent, *workload.single.result));
}

template <class Cycle>
void worker_share(const FileHandlingWorkload& workload, const Cycle& cycle) {
  const Measurement& m = workload.measurement;
  iprocs[iproc] = iproc;
  measure_cycles(cycle, WorkerName{format_worker_scratch_name, workload.worker_name, iproc, proc_name},
                 {&workload.worker_start[iproc], &workload.worker_end[iproc], &m.spent[iproc],
                  &m.results[iproc]},
                 m.what);
  send_result_report(m);
}

void collection_report(const FileHandlingWorkload& workload) {
  const Measurement& m = workload.measurement;
  collect_from_workers(m);
  tee(file_handling_summary(*m.total, *m.single, *m.average));
}

}  // namespace

void streams_single_phase() { single_phase(streams, StreamCycle{fout_temp_x, fin_temp_x}); }

void streams_worker_share() {
  worker_share(streams, StreamCycle{fout_temp_x_m[iproc], fin_temp_x_m[iproc]});
}

void streams_collection_report() {
  tee(multi_rank_heading(streams.title));
  collection_report(streams);
}

void descriptors_single_phase() { single_phase(descriptors, DescriptorCycle{handle}); }

void descriptors_worker_share() { worker_share(descriptors, DescriptorCycle{handle0[iproc]}); }

void descriptors_collection_report() {
  tee(title_block(descriptors.title, descriptors.title));
  collection_report(descriptors);
}
