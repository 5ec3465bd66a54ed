#include "block.h"

#include <cerrno>
#include <memory>
#include <new>

#include "../cluster/exchange.h"
#include "../rank0_output.h"
#include "layouts.h"
#include "passes.h"
#include "scratch_names.h"
#include "timed_span.h"

namespace {

// The file as the read measurement left it in memory. It lives from the
// read measurement until the write measurement has closed its stream.
struct BlockData {
  std::unique_ptr<char[]> bytes;
  std::streamoff size = -1;  // -1 while no valid size is known
};

double credited_bytes(const BlockData& data, std::uint64_t divisor) {
  return data.size < 0 ? 0.0 : credited_units(static_cast<double>(data.size), divisor);
}

// Reads the whole file in one request, then its part [size/d, 2 size/d) into
// the start of the buffer. A file that cannot be opened or sized gets no
// buffer: no size is made up for it.
double read_blocks(std::ifstream& in, const char* name, std::uint64_t divisor, BlockData& data,
                   OpFailures& failures) {
  in.open(name, std::ios::in | std::ios::binary);
  if (!in.is_open()) [[unlikely]] {
    failures.note(errno);
    return 0.0;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size >= 0) [[likely]]
    data.bytes.reset(new (std::nothrow) char[size]);
  if (size < 0 || !data.bytes) [[unlikely]] {
    failures.note(size < 0 ? "its size could not be read" : "no memory for a buffer of its size");
    in.close();
    return 0.0;
  }
  data.size = size;
  const std::streamoff second_pass = size / static_cast<std::streamoff>(divisor);
  in.seekg(0);
  in.read(data.bytes.get(), size);
  const std::streamsize first_read = in.gcount();
  in.sync();
  in.seekg(second_pass);
  in.read(data.bytes.get(), second_pass);
  const std::streamsize second_read = in.gcount();
  in.sync();
  const int read_error = in.bad() ? errno : 0;
  in.close();
  if (read_error) [[unlikely]]
    failures.note(read_error);
  else if (first_read != size || second_read != second_pass) [[unlikely]]
    failures.note(line("read ", first_read, " and ", second_read, " bytes, asked for ", size, " and ", second_pass));
  return credited_bytes(data, divisor);
}

// Writes the whole buffer at offset 0, then its first size/d bytes at size/d.
double write_blocks(std::ofstream& out, const char* name, std::uint64_t divisor, const BlockData& data,
                    OpFailures& failures) {
  if (!data.bytes) [[unlikely]] {
    failures.note("nothing to write: the block read failed");
    return 0.0;
  }
  const std::streamoff second_pass = data.size / static_cast<std::streamoff>(divisor);
  out.open(name, EXCLUSIVE_OUTPUT);
  out.seekp(0);
  out.write(data.bytes.get(), data.size);
  out.flush();
  out.seekp(second_pass);
  out.write(data.bytes.get(), second_pass);
  out.flush();
  const int write_error = out ? 0 : errno;
  out.close();
  if (write_error || out.fail()) [[unlikely]]
    failures.note(write_error ? write_error : errno);
  return credited_bytes(data, divisor);
}

// Both measurements of one rank: read, then report, then write.
struct BlockShare {
  std::ifstream& in;
  std::ofstream& out;
  FigureSlots read;
  FigureSlots write;
  std::uint64_t divisor;
};

template <class OutputName, class AfterRead>
void measure_blocks(const BlockShare& share, const char* input, const OutputName& output, BlockData& data,
                    const AfterRead& after_read) {
  const FailureLabel read_label = {BLOCK_READ, input, 1, "reads"};
  if (!refuse_foreign_input(share.read, read_label))
    time_measurement(share.read, read_label, [&](OpFailures& failures) {
      return read_blocks(share.in, input, share.divisor, data, failures);
    });
  after_read();
  free_output_name(output);
  time_measurement(share.write, {BLOCK_WRITE, output.text(), 1, "writes"},
                   [&](OpFailures& failures) {
                     return write_blocks(share.out, output(), share.divisor, data, failures);
                   });
}

}  // namespace

void block_single_phase() {
  test_hook_before_block_workload(iproc, BYTEWISE_SINGLE_FILE);
  tee(single_phase_heading(Workload::block));
  const BlockShare share = {fin_datah, fout_data, measurement(BLOCK_READ).single_slots(),
                            measurement(BLOCK_WRITE).single_slots(), pass_divisor(0)};
  BlockData data;
  measure_blocks(share, BYTEWISE_SINGLE_FILE, FixedName{BLOCK_SINGLE_OUTPUT}, data, [&] {
    buffer = data.bytes.get();
    tee(single_figures(BLOCK_READ, spent_single, result_single));
  });
  buffer = nullptr;  // released with data when the phase ends
  tee(single_figures(BLOCK_WRITE, spent_single1, result_single1));
}

void block_worker_share() {
  test_hook_before_block_workload(iproc, bytewise_filename);
  const Measurement& read = measurement(BLOCK_READ);
  const Measurement& write = measurement(BLOCK_WRITE);
  const BlockShare share = {fin_data1h[iproc], fout_data1[iproc], read.worker_slots(iproc),
                            write.worker_slots(iproc), pass_divisor(iproc)};
  BlockData data;
  measure_blocks(share, bytewise_filename, WorkerName{format_worker_block_name, block_filename, iproc, proc_name}, data,
                 [&] { send_result_report(read.id, iprocs[iproc], read.spent[iproc], read.results[iproc]); });
  send_result_report(write.id, iprocs[iproc], write.spent[iproc], write.results[iproc]);
}
