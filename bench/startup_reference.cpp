// A bare MPI program for bench/scale: the start-up of MPI alone, to set
// beside the benchmark's. Rank 0 prints, on standard output, the wall-clock
// times, in seconds since the epoch, at which MPI_Init returned and at which
// it had a message from every other rank: the benchmark's rank 0 too starts
// to measure once every worker has greeted it, so the second is the bare
// cost of the same start. Then every rank ends together, as the
// benchmark's do.
#include <mpi.h>

#include <chrono>
#include <cstdio>

namespace {

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char* argv[]) {
  MPI_Init(&argc, &argv);
  const double initialized = seconds_now();
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  int greeting = rank;
  if (rank == 0) {
    for (int other = 1; other < ranks; ++other)
      MPI_Recv(&greeting, 1, MPI_INT, MPI_ANY_SOURCE, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    std::printf("%.6f %.6f\n", initialized, seconds_now());
  } else {
    MPI_Send(&greeting, 1, MPI_INT, 0, 0, MPI_COMM_WORLD);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  MPI_Finalize();
  return 0;
}
