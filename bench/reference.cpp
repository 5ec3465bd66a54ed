// The benchmark's six single-process measurements with nothing around them:
// the same operations, counts, sizes and offsets as rank 0 performs, as bare
// loops over stream calls (the stream cycle) or system calls (everything
// else). bench/run compares the benchmark's figures with these.
//
// It runs as an MPI process too, started by mpirun and timed with MPI_Wtime,
// so that both sides measure inside the same runtime (MPI's memory hooks and
// progress threads included) and differ only in the calls they make.
//
// Prints one line per measurement: its name and its figure (units per second).
#include <fcntl.h>
#include <mpi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "sizes.h"
#include "measurements.h"

namespace {

double seconds_since(double start) { return MPI_Wtime() - start; }

void fail(const char* what) {
  std::perror(what);
  std::exit(1);
}

const char* const STREAM_NAME = "reference-low.tmp";
const char* const DESCRIPTOR_NAME = "reference-high.tmp";
const char* const BYTE_NAME = "reference-single.tmp";
const char* const BLOCK_NAME = "reference-single";
constexpr std::uint64_t HALF = BYTEWISE_FILE_BYTES / SINGLE_PROCESS_PASS_DIVISOR;
constexpr double CREDITED = BYTEWISE_FILE_BYTES + HALF;

double stream_cycles() {
  std::ofstream out;
  std::ifstream in;
  const double start = MPI_Wtime();
  for (std::uint64_t i = 0; i < FILE_HANDLING_CYCLES; ++i) {
    out.open(STREAM_NAME, std::ios::out | std::ios::binary);
    in.open(STREAM_NAME, std::ios::in | std::ios::binary);
    in.close();
    out.close();
    std::remove(STREAM_NAME);
  }
  return FILE_HANDLING_CYCLES / seconds_since(start);
}

double descriptor_cycles() {
  const double start = MPI_Wtime();
  for (std::uint64_t i = 0; i < FILE_HANDLING_CYCLES; ++i) {
    close(open(DESCRIPTOR_NAME, O_RDWR | O_CREAT, 0777));
    unlink(DESCRIPTOR_NAME);
  }
  return FILE_HANDLING_CYCLES / seconds_since(start);
}

double byte_writes() {
  const char fill = FILL_BYTE;
  const double start = MPI_Wtime();
  const int fd = open(BYTE_NAME, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  for (std::uint64_t i = 0; i < BYTEWISE_FILE_BYTES; ++i) write(fd, &fill, 1);
  lseek(fd, 0, SEEK_SET);
  lseek(fd, HALF, SEEK_SET);
  for (std::uint64_t i = 0; i < HALF; ++i) write(fd, &fill, 1);
  close(fd);
  const double rate = CREDITED / seconds_since(start);
  if (fd < 0) fail(BYTE_NAME);
  return rate;
}

double byte_reads() {
  char byte = 0;
  const double start = MPI_Wtime();
  const int fd = open(BYTE_NAME, O_RDONLY);
  lseek(fd, 0, SEEK_SET);
  while (read(fd, &byte, 1) == 1) {
  }
  lseek(fd, 0, SEEK_SET);
  lseek(fd, HALF, SEEK_SET);
  for (std::uint64_t i = 0; i < HALF; ++i) read(fd, &byte, 1);
  close(fd);
  const double rate = CREDITED / seconds_since(start);
  if (fd < 0) fail(BYTE_NAME);
  return rate;
}

std::unique_ptr<char[]> block;
off_t block_size = 0;

double block_read() {
  const double start = MPI_Wtime();
  const int fd = open(BYTE_NAME, O_RDONLY);
  block_size = lseek(fd, 0, SEEK_END);
  block.reset(new char[block_size]);
  lseek(fd, 0, SEEK_SET);
  read(fd, block.get(), block_size);
  lseek(fd, block_size / 2, SEEK_SET);
  read(fd, block.get(), block_size / 2);
  close(fd);
  const double rate = block_size * 1.5 / seconds_since(start);
  if (fd < 0) fail(BYTE_NAME);
  return rate;
}

double block_write() {
  const double start = MPI_Wtime();
  const int fd = open(BLOCK_NAME, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  lseek(fd, 0, SEEK_SET);
  write(fd, block.get(), block_size);
  lseek(fd, block_size / 2, SEEK_SET);
  write(fd, block.get(), block_size / 2);
  close(fd);
  const double rate = block_size * 1.5 / seconds_since(start);
  if (fd < 0) fail(BLOCK_NAME);
  return rate;
}

}  // namespace

int main(int argc, char* argv[]) {
  MPI_Init(&argc, &argv);
  std::printf("streams %.9g\n", stream_cycles());
  std::printf("descriptors %.9g\n", descriptor_cycles());
  std::printf("bytewise_write %.9g\n", byte_writes());
  std::printf("bytewise_read %.9g\n", byte_reads());
  std::printf("block_read %.9g\n", block_read());
  std::printf("block_write %.9g\n", block_write());
  MPI_Finalize();
  return 0;
}
