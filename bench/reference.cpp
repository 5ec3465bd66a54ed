// The benchmark's six single-process measurements with nothing around them:
// the same operations, counts, sizes and offsets as rank 0 performs, as bare
// loops. bench/run compares the benchmark's figures with these.
//
// The byte-wise and block measurements have two references: the same stream
// operations the benchmark makes (a put and a flush per byte written, an
// unbuffered get and a sync per byte read; a block read or write and a sync
// or flush per pass), which is the best the benchmark could do, and the bare
// system calls, which is the physical limit.
//
// It runs as an MPI process too, started by mpirun and timed with MPI_Wtime,
// so that both sides measure inside the same runtime (MPI's memory hooks and
// progress threads included) and differ only in the calls they make.
//
// Prints two lines per measurement: its key and its figure (units per
// second), then key_user and the user-space CPU seconds it took; the stream
// references of the byte-wise and block measurements carry the suffix
// _streams. With STELVANE_SPAN_MARKS set, its test-size build marks its
// spans as the benchmark does (span_marks.h), for bench/count.
#include <fcntl.h>
#include <mpi.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "measurements.h"
#include "sizes.h"
#include "span_marks.h"

namespace {

const char* const STREAM_NAME = "reference-low.tmp";
const char* const DESCRIPTOR_NAME = "reference-high.tmp";
const char* const BYTE_NAME = "reference-single.tmp";
const char* const STREAM_BYTE_NAME = "reference-streams.tmp";
const char* const BLOCK_NAME = "reference-single";
// The stream references read the file the stream writer wrote and write a
// file of their own, new as the benchmark's is: writing over a file just
// written and removed would reuse its memory and run faster than any run of
// the benchmark can.
const char* const STREAM_BLOCK_NAME = "reference-streams";
constexpr std::uint64_t HALF = BYTEWISE_FILE_BYTES / SINGLE_PROCESS_PASS_DIVISOR;
constexpr double CREDITED = BYTEWISE_FILE_BYTES + HALF;

// A file that could not be opened makes every figure meaningless: say so,
// and let main end the run.
bool opened(bool is_open, const char* name) {
  if (!is_open) std::fprintf(stderr, "stelvane-reference: cannot open %s: %s\n", name, std::strerror(errno));
  return is_open;
}

double stream_cycles() {
  std::ofstream out;
  std::ifstream in;
  const double start = MPI_Wtime();
  span_begin("streams");
  for (std::uint64_t i = 0; i < FILE_HANDLING_CYCLES; ++i) {
    out.open(STREAM_NAME, std::ios::out | std::ios::binary | std::ios::__noreplace);
    in.open(STREAM_NAME, std::ios::in | std::ios::binary);
    in.close();
    out.close();
    std::remove(STREAM_NAME);
  }
  span_end("streams");
  return FILE_HANDLING_CYCLES / (MPI_Wtime() - start);
}

double descriptor_cycles() {
  const double start = MPI_Wtime();
  span_begin("descriptors");
  for (std::uint64_t i = 0; i < FILE_HANDLING_CYCLES; ++i) {
    close(open(DESCRIPTOR_NAME, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0777));
    unlink(DESCRIPTOR_NAME);
  }
  span_end("descriptors");
  return FILE_HANDLING_CYCLES / (MPI_Wtime() - start);
}

double byte_writes(bool& ok) {
  const char fill = FILL_BYTE;
  const double start = MPI_Wtime();
  span_begin("bytewise_write");
  const int fd = open(BYTE_NAME, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC, 0666);
  for (std::uint64_t i = 0; i < BYTEWISE_FILE_BYTES; ++i) write(fd, &fill, 1);
  lseek(fd, 0, SEEK_SET);
  lseek(fd, HALF, SEEK_SET);
  for (std::uint64_t i = 0; i < HALF; ++i) write(fd, &fill, 1);
  close(fd);
  span_end("bytewise_write");
  const double rate = CREDITED / (MPI_Wtime() - start);
  ok = opened(fd >= 0, BYTE_NAME);
  return rate;
}

double byte_reads(bool& ok) {
  char byte = 0;
  const double start = MPI_Wtime();
  span_begin("bytewise_read");
  const int fd = open(BYTE_NAME, O_RDONLY);
  lseek(fd, 0, SEEK_SET);
  while (read(fd, &byte, 1) == 1) {
  }
  lseek(fd, 0, SEEK_SET);
  lseek(fd, HALF, SEEK_SET);
  for (std::uint64_t i = 0; i < HALF; ++i) read(fd, &byte, 1);
  close(fd);
  span_end("bytewise_read");
  const double rate = CREDITED / (MPI_Wtime() - start);
  ok = opened(fd >= 0, BYTE_NAME);
  return rate;
}

double stream_byte_writes(bool& ok) {
  std::ofstream out;
  const double start = MPI_Wtime();
  span_begin("bytewise_write_streams");
  out.open(STREAM_BYTE_NAME, std::ios::out | std::ios::binary | std::ios::__noreplace);
  for (std::uint64_t i = 0; i < BYTEWISE_FILE_BYTES; ++i) {
    out.put(FILL_BYTE);
    out.flush();
  }
  out.seekp(0);
  out.seekp(HALF);
  for (std::uint64_t i = 0; i < HALF; ++i) {
    out.put(FILL_BYTE);
    out.flush();
  }
  const bool was_open = out.is_open();
  out.close();
  span_end("bytewise_write_streams");
  const double rate = CREDITED / (MPI_Wtime() - start);
  ok = opened(was_open, STREAM_BYTE_NAME);
  return rate;
}

double stream_byte_reads(bool& ok) {
  std::ifstream in;
  in.rdbuf()->pubsetbuf(nullptr, 0);
  char byte = 0;
  const double start = MPI_Wtime();
  span_begin("bytewise_read_streams");
  in.open(STREAM_BYTE_NAME, std::ios::in | std::ios::binary);
  in.seekg(0);
  const bool was_open = in.is_open();
  while (in.good()) {
    in.get(byte);
    in.sync();
  }
  in.clear();
  in.seekg(0);
  in.seekg(HALF);
  for (std::uint64_t i = 0; i < HALF; ++i) {
    in.get(byte);
    in.sync();
  }
  in.close();
  span_end("bytewise_read_streams");
  const double rate = CREDITED / (MPI_Wtime() - start);
  ok = opened(was_open, STREAM_BYTE_NAME);
  return rate;
}

std::unique_ptr<char[]> block;
off_t block_size = 0;

double block_read(bool& ok) {
  const double start = MPI_Wtime();
  span_begin("block_read");
  const int fd = open(BYTE_NAME, O_RDONLY);
  block_size = lseek(fd, 0, SEEK_END);
  block.reset(new char[block_size > 0 ? block_size : 1]);
  lseek(fd, 0, SEEK_SET);
  read(fd, block.get(), block_size);
  lseek(fd, block_size / 2, SEEK_SET);
  read(fd, block.get(), block_size / 2);
  close(fd);
  span_end("block_read");
  const double rate = block_size * 1.5 / (MPI_Wtime() - start);
  ok = opened(fd >= 0, BYTE_NAME);
  return rate;
}

double block_write(bool& ok) {
  const double start = MPI_Wtime();
  span_begin("block_write");
  const int fd = open(BLOCK_NAME, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC, 0666);
  lseek(fd, 0, SEEK_SET);
  write(fd, block.get(), block_size);
  lseek(fd, block_size / 2, SEEK_SET);
  write(fd, block.get(), block_size / 2);
  close(fd);
  span_end("block_write");
  const double rate = block_size * 1.5 / (MPI_Wtime() - start);
  ok = opened(fd >= 0, BLOCK_NAME);
  return rate;
}

std::unique_ptr<char[]> stream_block;
std::streamoff stream_block_size = 0;

double stream_block_read(bool& ok) {
  std::ifstream in;
  const double start = MPI_Wtime();
  span_begin("block_read_streams");
  in.open(STREAM_BYTE_NAME, std::ios::in | std::ios::binary);
  in.seekg(0, std::ios::end);
  stream_block_size = in.tellg();
  stream_block.reset(new char[stream_block_size > 0 ? stream_block_size : 1]);
  in.seekg(0);
  in.read(stream_block.get(), stream_block_size);
  in.sync();
  in.seekg(stream_block_size / 2);
  in.read(stream_block.get(), stream_block_size / 2);
  in.sync();
  const bool was_open = in.is_open();
  in.close();
  span_end("block_read_streams");
  const double rate = stream_block_size * 1.5 / (MPI_Wtime() - start);
  ok = opened(was_open, STREAM_BYTE_NAME);
  return rate;
}

double stream_block_write(bool& ok) {
  std::ofstream out;
  const double start = MPI_Wtime();
  span_begin("block_write_streams");
  out.open(STREAM_BLOCK_NAME, std::ios::out | std::ios::binary | std::ios::__noreplace);
  out.seekp(0);
  out.write(stream_block.get(), stream_block_size);
  out.flush();
  out.seekp(stream_block_size / 2);
  out.write(stream_block.get(), stream_block_size / 2);
  out.flush();
  const bool was_open = out.is_open();
  out.close();
  span_end("block_write_streams");
  const double rate = stream_block_size * 1.5 / (MPI_Wtime() - start);
  ok = opened(was_open, STREAM_BLOCK_NAME);
  return rate;
}

double user_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
}

// Runs one measurement and prints its figure, and the user-space CPU seconds
// it took (key_user), which bench/count sets against its instruction count.
// The CPU time is read outside the timed span.
template <class Measure>
void measure(MeasurementId id, const char* suffix, Measure&& run) {
  const double user_before = user_seconds();
  const double figure = run();
  const double user = user_seconds() - user_before;
  std::printf("%s%s %.9g\n", MEASUREMENTS[id].key, suffix, figure);
  std::printf("%s%s_user %.9g\n", MEASUREMENTS[id].key, suffix, user);
}

// Runs every measurement in the benchmark's order; false as soon as a file
// cannot be opened.
bool measure_all() {
  bool ok = true;
  measure(STREAMS, "", stream_cycles);
  measure(DESCRIPTORS, "", descriptor_cycles);
  measure(BYTEWISE_WRITE, "", [&] { return byte_writes(ok); });
  if (ok) measure(BYTEWISE_READ, "", [&] { return byte_reads(ok); });
  if (ok) measure(BYTEWISE_WRITE, "_streams", [&] { return stream_byte_writes(ok); });
  if (ok) measure(BYTEWISE_READ, "_streams", [&] { return stream_byte_reads(ok); });
  if (ok) measure(BLOCK_READ, "", [&] { return block_read(ok); });
  if (ok) measure(BLOCK_WRITE, "", [&] { return block_write(ok); });
  if (ok) measure(BLOCK_READ, "_streams", [&] { return stream_block_read(ok); });
  if (ok) measure(BLOCK_WRITE, "_streams", [&] { return stream_block_write(ok); });
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  MPI_Init(&argc, &argv);
  const bool ok = measure_all();
  MPI_Finalize();
  return ok ? 0 : 1;
}
