#include "exchange.h"

#include "../globals.h"

void send_result_messages(const double* results, const double* spent) {
  MPI_Send(results, nproc, MPI_DOUBLE, 0, tag, MPI_COMM_WORLD);
  MPI_Send(spent, nproc, MPI_DOUBLE, 0, tag, MPI_COMM_WORLD);
  MPI_Send(proc_name, nameLength, MPI_CHAR, 0, tag, MPI_COMM_WORLD);
  MPI_Send(iprocs, nproc, MPI_INT, 0, tag, MPI_COMM_WORLD);
}

void receive_result_messages(int source, double* results_temp, double* spent_temp, std::string& name) {
  MPI_Recv(results_temp, nproc, MPI_DOUBLE, source, tag, MPI_COMM_WORLD, &status);
  MPI_Recv(spent_temp, nproc, MPI_DOUBLE, source, tag, MPI_COMM_WORLD, &status);
  MPI_Recv(proc_name_temp, PROC_NAME_BYTES, MPI_CHAR, source, tag, MPI_COMM_WORLD, &status);
  // The name travels without a terminator; what lies beyond it in the
  // buffer belongs to an earlier sender.
  int name_characters = 0;
  MPI_Get_count(&status, MPI_CHAR, &name_characters);
  name.assign(proc_name_temp, static_cast<std::size_t>(name_characters));
  MPI_Recv(iprocs_temp, nproc, MPI_INT, source, tag, MPI_COMM_WORLD, &status);
}
