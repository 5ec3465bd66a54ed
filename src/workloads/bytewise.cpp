#include "bytewise.h"

#include <cerrno>
#include <iostream>

#include "../cluster/exchange.h"
#include "../rank0_output.h"
#include "layouts.h"
#include "passes.h"
#include "scratch_names.h"
#include "timed_span.h"

namespace {

// Puts `count` fill bytes, handing each to the system with a flush. Once the
// stream has failed every later byte fails too; each is counted.
void put_bytes(std::ofstream& out, std::uint64_t count, OpFailures& failures) {
  for (std::uint64_t i = 0; i < count; ++i) {
    out.put(FILL_BYTE);
    out.flush();
    if (!out) [[unlikely]] failures.note(errno);
  }
}

// Writes the whole file one byte at a time, then rewrites bytes
// [second_pass, 2 * second_pass) the same way.
double write_bytewise(std::ofstream& out, const char* name, std::uint64_t divisor, OpFailures& failures) {
  const std::uint64_t second_pass = second_pass_length(BYTEWISE_FILE_BYTES, divisor);
  out.open(name, EXCLUSIVE_OUTPUT);
  put_bytes(out, BYTEWISE_FILE_BYTES, failures);
  out.seekp(0);
  out.seekp(static_cast<std::streamoff>(second_pass));
  put_bytes(out, second_pass, failures);
  out.close();
  if (out.fail() && !failures.any()) [[unlikely]] failures.note(errno);
  return credited_units(static_cast<double>(BYTEWISE_FILE_BYTES), divisor);
}

// Gets one byte and syncs the stream; returns the bytes delivered (0 or 1).
inline std::uint64_t get_byte(std::ifstream& in, char& target) {
  in.get(target);
  in.sync();
  return static_cast<std::uint64_t>(in.gcount());
}

// Reads the file one byte at a time to its end, then bytes
// [second_pass, 2 * second_pass) again. The stream is unbuffered, so each get
// is one read request.
double read_bytewise(std::ifstream& in, const char* name, std::uint64_t divisor, char& target,
                     OpFailures& failures) {
  const std::uint64_t second_pass = second_pass_length(BYTEWISE_FILE_BYTES, divisor);
  std::uint64_t first_delivered = 0;
  std::uint64_t second_delivered = 0;
  in.open(name, std::ios::in | std::ios::binary);
  in.seekg(0);
  if (!in.is_open()) {
    failures.note(errno);
    std::cout << "Unable to open file" << std::endl;
  } else {
    // Stops at the end of the file, and also on a read error, which sets no
    // end-of-file indication.
    while (in.good()) first_delivered += get_byte(in, target);
    if (in.bad()) [[unlikely]] failures.note(errno);
  }
  in.clear();
  in.seekg(0);
  in.seekg(static_cast<std::streamoff>(second_pass));
  for (std::uint64_t i = 0; i < second_pass; ++i) second_delivered += get_byte(in, target);
  in.close();
  if ((first_delivered < BYTEWISE_FILE_BYTES || second_delivered < second_pass) && !failures.any())
      [[unlikely]]
    failures.note(line("the file delivered ", first_delivered, " and ", second_delivered, " bytes in its passes, expected ",
                       BYTEWISE_FILE_BYTES, " and ", second_pass));
  return credited_units(static_cast<double>(BYTEWISE_FILE_BYTES), divisor);
}

// Both measurements of one rank: write, then report, then read.
struct BytewiseShare {
  std::ofstream& out;
  std::ifstream& in;
  char& target;
  FigureSlots write;
  FigureSlots read;
  std::uint64_t divisor;
};

template <class Name>
void measure_write(const BytewiseShare& share, const Name& name) {
  const std::uint64_t attempted = BYTEWISE_FILE_BYTES + second_pass_length(BYTEWISE_FILE_BYTES, share.divisor);
  free_output_name(name);
  time_measurement(share.write, {BYTEWISE_WRITE, name.text(), attempted, "byte writes"},
                   [&](OpFailures& failures) { return write_bytewise(share.out, name(), share.divisor, failures); });
}

void measure_read(const BytewiseShare& share, const char* name) {
  // Unbuffered before it opens: a buffered stream would read the file in
  // bulk and report memory speed.
  share.in.rdbuf()->pubsetbuf(nullptr, 0);
  const FailureLabel label = {BYTEWISE_READ, name, 1, "reads"};
  if (refuse_foreign_input(share.read, label)) {
    std::cout << "Unable to open file" << std::endl;
    return;
  }
  time_measurement(share.read, label, [&](OpFailures& failures) {
    return read_bytewise(share.in, name, share.divisor, share.target, failures);
  });
}

}  // namespace

void bytewise_single_phase() {
  tee(single_phase_heading(Workload::bytewise));
  const BytewiseShare share = {fout_temp, fin_data, char8, measurement(BYTEWISE_WRITE).single_slots(),
                               measurement(BYTEWISE_READ).single_slots(), pass_divisor(0)};
  position = second_pass_length(BYTEWISE_FILE_BYTES, share.divisor);
  measure_write(share, FixedName{BYTEWISE_SINGLE_FILE});
  tee(single_figures(BYTEWISE_WRITE, spent_single0, result_single0));
  measure_read(share, BYTEWISE_SINGLE_FILE);
  tee(single_figures(BYTEWISE_READ, spent_single2, result_single2));
}

void bytewise_worker_share() {
  char worker_target = 0;
  const Measurement& write = measurement(BYTEWISE_WRITE);
  const Measurement& read = measurement(BYTEWISE_READ);
  const BytewiseShare share = {fout_temp1[iproc], fin_data1[iproc], worker_target, write.worker_slots(iproc),
                               read.worker_slots(iproc), pass_divisor(iproc)};
  iprocs[iproc] = iproc;
  measure_write(share, WorkerName{format_worker_scratch_name, bytewise_filename, iproc, proc_name});
  send_result_report(write.id, iprocs[iproc], write.spent[iproc], write.results[iproc]);
  measure_read(share, bytewise_filename);
  send_result_report(read.id, iprocs[iproc], read.spent[iproc], read.results[iproc]);
}
