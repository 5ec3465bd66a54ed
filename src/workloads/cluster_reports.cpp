#include "cluster_reports.h"

#include "../cluster/exchange.h"
#include "../cluster/statistics.h"
#include "../globals.h"
#include "../rank0_output.h"
#include "layouts.h"
#include "measurement.h"

namespace {

// Receives every worker's result messages of one measurement in rank order,
// adds each figure to the cluster total and prints the worker's lines before
// the next receive; forms the per-thread average after the last.
void collect_from_workers(const Measurement& m) {
  for (int worker = 1; worker < nproc; ++worker) {
    receive_result_messages(worker, m.results_temp, m.spent_temp, m.names[worker]);
    *m.total = add_to_cluster_total(*m.total, m.results_temp[worker]);
    tee(worker_figures(m.id, iprocs_temp[worker], m.names[worker], m.spent_temp[worker], m.results_temp[worker]));
  }
  *m.average = per_thread_average(*m.total, nproc);
}

ClusterFigures cluster_figures(const Measurement& m) {
  return {*m.total, improvement_ratio(*m.total, *m.single.result), *m.average};
}

}  // namespace

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
