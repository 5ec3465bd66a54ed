// Cluster figures rank 0 forms from the workers' figures of one measurement.
// Rank 0 runs no worker share, so a job of n ranks has n - 1 workers.
#pragma once

// Adds worker figures in rank order, in double precision; NaN and infinite
// figures enter unchanged.
inline double add_to_cluster_total(double total, double worker_figure) { return total + worker_figure; }

// How many times more the workers achieved together than rank 0 alone.
inline double improvement_ratio(double cluster_total, double single_process_figure) {
  return cluster_total / single_process_figure;
}

// The per-thread average: the total over the number of workers.
inline double per_thread_average(double cluster_total, int rank_count) {
  return cluster_total / static_cast<double>(rank_count - 1);
}
