#include "file_handling.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "../cluster/exchange.h"
#include "../failures.h"
#include "../globals.h"
#include "../rank0_output.h"
#include "layouts.h"
#include "scratch_names.h"
#include "timed_span.h"

namespace {

// One cycle through a reused pair of streams: the file is created (anew:
// the create fails on any entry at the name), opened for input, closed twice
// and removed; nothing is written.
struct StreamCycle {
  std::ofstream& out;
  std::ifstream& in;

  void operator()(const char* name, OpFailures& failures) const {
    out.open(name, EXCLUSIVE_OUTPUT);
    const int open_error = out.is_open() ? 0 : errno;
    in.open(name, std::ios::in | std::ios::binary);
    in.close();
    out.close();
    // Only the file this cycle made is removed: an entry that was there
    // before stays where it is.
    const int remove_error = open_error ? 0 : std::remove(name) == 0 ? 0 : errno;
    if (open_error | remove_error) [[unlikely]]
      failures.note(open_error ? open_error : remove_error);
  }
};

// One cycle through the operating system's calls: an exclusive create that
// follows no link, close, remove.
struct DescriptorCycle {
  int& descriptor;

  void operator()(const char* name, OpFailures& failures) const {
    descriptor = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0777);
    const int open_error = descriptor >= 0 ? 0 : errno;
    close(descriptor);
    const int remove_error = open_error ? 0 : std::remove(name) == 0 ? 0 : errno;
    if (open_error | remove_error) [[unlikely]]
      failures.note(open_error ? open_error : remove_error);
  }
};

// Rank 0 handles one fixed name; a worker formats its own name in every
// cycle, inside the timed loop.
template <class Cycle, class Name>
void measure_cycles(const Cycle& cycle, const Name& next_name, const FigureSlots& figures, MeasurementId id) {
  free_output_name(next_name);
  time_measurement(figures, {id, next_name.text(), FILE_HANDLING_CYCLES, "cycles"}, [&](OpFailures& failures) {
    for (std::uint64_t i = 0; i < FILE_HANDLING_CYCLES; ++i) cycle(next_name(), failures);
    return static_cast<double>(FILE_HANDLING_CYCLES);
  });
}

// What differs between the two workloads besides the cycle body.
struct FileHandlingWorkload {
  Workload workload;
  MeasurementId id;
  const char* single_scratch;  // rank 0's scratch name
  char* worker_name;           // buffer of a worker's scratch name
};

const FileHandlingWorkload streams = {Workload::streams, STREAMS, STREAMS_SINGLE_SCRATCH, filename};
const FileHandlingWorkload descriptors = {Workload::descriptors, DESCRIPTORS, DESCRIPTORS_SINGLE_SCRATCH, filenamex};

template <class Cycle>
void single_phase(const FileHandlingWorkload& workload, const Cycle& cycle) {
  const Measurement& m = measurement(workload.id);
  tee(single_phase_heading(workload.workload));
  measure_cycles(cycle, FixedName{workload.single_scratch}, m.single_slots(), workload.id);
  tee(single_figures(workload.id, *m.single.spent, *m.single.result));
}

template <class Cycle>
void worker_share(const FileHandlingWorkload& workload, const Cycle& cycle) {
  const Measurement& m = measurement(workload.id);
  iprocs[iproc] = iproc;
  measure_cycles(cycle, WorkerName{format_worker_scratch_name, workload.worker_name, iproc, proc_name},
                 m.worker_slots(iproc), workload.id);
  send_result_report(m.id, iprocs[iproc], m.spent[iproc], m.results[iproc]);
}

}  // namespace

void streams_single_phase() { single_phase(streams, StreamCycle{fout_temp_x, fin_temp_x}); }

void streams_worker_share() {
  worker_share(streams, StreamCycle{fout_temp_x_m[iproc], fin_temp_x_m[iproc]});
}

void descriptors_single_phase() { single_phase(descriptors, DescriptorCycle{handle}); }

void descriptors_worker_share() { worker_share(descriptors, DescriptorCycle{handle0[iproc]}); }
