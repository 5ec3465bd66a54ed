// A bare MPI program for bench/scale: the start-up of MPI alone, to set
// beside the benchmark's. Rank 0 prints, on standard output, the wall-clock
// time at which MPI_Init returned, in seconds since the epoch; then every
// rank ends together, as the benchmark's do.
#include <mpi.h>

#include <chrono>
#include <cstdio>

int main(int argc, char* argv[]) {
  MPI_Init(&argc, &argv);
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  if (rank == 0) std::printf("%.6f\n", now);
  MPI_Barrier(MPI_COMM_WORLD);
  MPI_Finalize();
  return 0;
}
