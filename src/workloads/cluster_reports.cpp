#include "cluster_reports.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "../cluster/answers.h"
#include "../cluster/exchange.h"
#include "../cluster/quiet_wait.h"
#include "../cluster/statistics.h"
#include "../failures.h"
#include "../globals.h"
#include "../rank0_output.h"
#include "../stop_signals.h"
#include "layouts.h"
#include "measurement.h"

namespace {

WorkerAnswers answers;
int reporting_workers = 0;           // workers from rank 1 on that report to rank 0
std::uint64_t open_files_of_rank0 = 0;  // the limit that kept the others out

// Files a report where rank 0 keeps that measurement's figures of the sender.
void file_report(int sender, const ResultReport& report) {
  if (report.measurement == GREETING) {
    answers.greeted(sender, report.name);
    return;
  }
  if (report.measurement < 0 || report.measurement >= MEASUREMENT_COUNT ||
      !answers.reported(sender, report.measurement, MPI_Wtime()))
    return;
  const Measurement& m = measurement(static_cast<MeasurementId>(report.measurement));
  m.results_temp[sender] = report.figure;
  m.spent_temp[sender] = report.seconds;
  m.names[sender] = report.name;
  iprocs_temp[sender] = report.rank_label;
}

// Takes every report that has arrived; true when there was any.
bool take_arrived_reports() {
  bool any = false;
  int sender = 0;
  for (ResultReport report; take_arrived_report(sender, report); any = true) file_report(sender, report);
  return any;
}

// Why rank 0 stopped waiting for a worker, as the no-answer line says it.
std::string why_given_up(MeasurementId id, int worker) {
  if (worker > reporting_workers) return line("as rank 0 may open only ", open_files_of_rank0, " files");
  if (stop_requested()) return line("before the job was ended (", stop_signal_name(), ")");
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.0f", std::ceil(answers.deadline_after_start(id)));
  return line("within ", seconds, " s of the start");
}

// Gives up every worker from `first` on that has not answered measurement
// `id`: its figures in this and every later measurement are NaN, under the
// name it greeted with.
void give_up_unanswered(MeasurementId id, int first) {
  for (int worker = first; worker < nproc; ++worker) {
    if (answers.settled(worker, id)) continue;
    answers.give_up(worker, id);
    for (int later = id; later < MEASUREMENT_COUNT; ++later) {
      const Measurement& m = measurement(static_cast<MeasurementId>(later));
      m.results_temp[worker] = m.spent_temp[worker] = FAILED_FIGURE;
      m.names[worker] = answers.node(worker);
    }
    iprocs_temp[worker] = worker;
  }
}

// A worker's lines, after the line that gives it up when this is the
// measurement it gave no answer in.
void print_worker(const Measurement& m, int worker) {
  if (answers.lost_from(worker) == m.id) {
    const std::string given_up = no_answer_line(worker, answers.node(worker), m.name(), why_given_up(m.id, worker));
    write_error_line(given_up);
    tee(ReportBlock().file_only(given_up));
  }
  *m.total = add_to_cluster_total(*m.total, m.results_temp[worker]);
  tee(worker_figures(m.id, iprocs_temp[worker], m.names[worker], m.spent_temp[worker], m.results_temp[worker]));
}

// Prints every worker's figures of one measurement in rank order, each as
// soon as it and all before it are in; a worker that has not answered by
// the deadline, or when the job is being ended, is given up. Forms the
// per-thread average after the last.
void collect_from_workers(const Measurement& m) {
  answers.rank0_done(m.id, *m.single.end);
  int next = 1;
  wait_quietly_for(
      [&] {
        const bool arrived = take_arrived_reports();
        for (; next < nproc && answers.settled(next, m.id); ++next) print_worker(m, next);
        if (next == nproc) return Waited::done;
        // A deadline here does not end the wait: it settles the workers that
        // have not answered, whose lines follow at the next step.
        if (stop_requested() || MPI_Wtime() > answers.deadline(m.id)) {
          give_up_unanswered(m.id, next);
          return Waited::progress;
        }
        return arrived ? Waited::progress : Waited::nothing;
      },
      never_give_up);
  *m.average = per_thread_average(*m.total, nproc);
}

ClusterFigures cluster_figures(const Measurement& m) {
  return {*m.total, improvement_ratio(*m.total, *m.single.result), *m.average};
}

}  // namespace

void take_greetings(int reporting, std::uint64_t open_file_limit) {
  reporting_workers = reporting;
  open_files_of_rank0 = open_file_limit;
  answers.begin(nproc);
  give_up_unanswered(STREAMS, reporting + 1);
  const double until = MPI_Wtime() + ANSWER_MARGIN_SECONDS;
  wait_quietly_for(
      [] {
        if (answers.greetings() == reporting_workers) return Waited::done;
        return take_arrived_reports() ? Waited::progress : Waited::nothing;
      },
      [&] { return stop_requested() || MPI_Wtime() >= until; });
  answers.start_clock(MPI_Wtime());
}

bool workers_lost() { return answers.any_lost(); }

std::vector<int> answering_workers() {
  std::vector<int> answering;
  for (int worker = 1; worker < nproc; ++worker)
    if (answers.lost_from(worker) == MEASUREMENT_COUNT) answering.push_back(worker);
  return answering;
}

void collection_report(Workload workload) {
  const WorkloadMeasurements ids = measurements_of(workload);
  tee(collection_heading(workload));
  collect_from_workers(measurement(ids.first));
  if (ids.count() == 1) {
    tee(file_handling_summary(cluster_figures(measurement(ids.first))));
    return;
  }
  collect_from_workers(measurement(ids.second));
  tee(transfer_summary(workload, cluster_figures(measurement(ids.write())), cluster_figures(measurement(ids.read()))));
}

const std::string& node_of_worker(int worker) { return answers.node(worker); }
