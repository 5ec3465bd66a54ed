#include "exchange.h"

#include "../globals.h"
#include "../result_file.h"
#include "statistics.h"

void send_result_report(const Measurement& measurement) {
  MPI_Send(measurement.results, nproc, MPI_DOUBLE, 0, tag, MPI_COMM_WORLD);
  MPI_Send(measurement.spent, nproc, MPI_DOUBLE, 0, tag, MPI_COMM_WORLD);
  MPI_Send(proc_name, nameLength, MPI_CHAR, 0, tag, MPI_COMM_WORLD);
  MPI_Send(iprocs, nproc, MPI_INT, 0, tag, MPI_COMM_WORLD);
}

void receive_result_report(const Measurement& measurement, int source) {
  MPI_Recv(measurement.results_temp, nproc, MPI_DOUBLE, source, tag, MPI_COMM_WORLD, &status);
  MPI_Recv(measurement.spent_temp, nproc, MPI_DOUBLE, source, tag, MPI_COMM_WORLD, &status);
  MPI_Recv(proc_name_temp, PROC_NAME_BYTES, MPI_CHAR, source, tag, MPI_COMM_WORLD, &status);
  // The name travels without a terminator; what lies beyond it in the
  // buffer belongs to an earlier sender.
  int name_characters = 0;
  MPI_Get_count(&status, MPI_CHAR, &name_characters);
  measurement.names[source].assign(proc_name_temp, static_cast<std::size_t>(name_characters));
  MPI_Recv(iprocs_temp, nproc, MPI_INT, source, tag, MPI_COMM_WORLD, &status);
}

void collect_from_workers(const Measurement& measurement) {
  for (int worker = 1; worker < nproc; ++worker) {
    receive_result_report(measurement, worker);
    *measurement.total = add_to_cluster_total(*measurement.total, measurement.results_temp[worker]);
    tee(measurement.worker_lines(iprocs_temp[worker], measurement.names[worker],
                                 measurement.spent_temp[worker], measurement.results_temp[worker],
                                 measurement.spent_suffix));
  }
  *measurement.average = per_thread_average(*measurement.total, nproc);
}
