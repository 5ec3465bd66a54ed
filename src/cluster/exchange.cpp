#include "exchange.h"

#include <cstring>

#include "../globals.h"
#include "quiet_wait.h"

namespace {

// On the wire: a fixed header, then the name without a terminator. Every
// rank runs the same binary on the same kind of machine, so the header
// travels as bytes.
struct Header {
  int measurement;
  int rank_label;
  double seconds;
  double figure;
};

constexpr int MESSAGE_BYTES = static_cast<int>(sizeof(Header)) + PROC_NAME_BYTES;

// A worker's sends: the greeting and one report per measurement, each from a
// buffer of its own that lives until the end of the run.
constexpr int SENDS = MEASUREMENT_COUNT + 1;
char send_buffers[SENDS][MESSAGE_BYTES];
MPI_Request send_requests[SENDS] = {};
int sends_started = 0;

void send_report(int measurement, double seconds, double figure) {
  char* message = send_buffers[sends_started];
  const Header header = {measurement, iprocs[iproc], seconds, figure};
  std::memcpy(message, &header, sizeof header);
  std::memcpy(message + sizeof header, proc_name, static_cast<std::size_t>(nameLength));
  MPI_Isend(message, static_cast<int>(sizeof header) + nameLength, MPI_BYTE, 0, tag, MPI_COMM_WORLD,
            &send_requests[sends_started]);
  ++sends_started;
}

// Rank 0's one posted receive, from any worker.
char receive_buffer[MESSAGE_BYTES];
MPI_Request receive_request = MPI_REQUEST_NULL;

void wait_for_all_ranks() {
  MPI_Request barrier;
  MPI_Ibarrier(MPI_COMM_WORLD, &barrier);
  wait_quietly(barrier);
}

}  // namespace

void send_greeting() {
  iprocs[iproc] = iproc;
  send_report(GREETING, 0.0, 0.0);
}

void send_result_report(MeasurementId id, const double* results, const double* spent) {
  send_report(id, spent[iproc], results[iproc]);
}

void finish_reports_and_wait_for_all() {
  wait_all_quietly(sends_started, send_requests);
  wait_for_all_ranks();
}

bool take_arrived_report(int& sender, ResultReport& report) {
  if (receive_request == MPI_REQUEST_NULL)
    MPI_Irecv(receive_buffer, MESSAGE_BYTES, MPI_BYTE, MPI_ANY_SOURCE, tag, MPI_COMM_WORLD, &receive_request);
  int arrived = 0;
  MPI_Test(&receive_request, &arrived, &status);
  if (!arrived) return false;
  int bytes = 0;
  MPI_Get_count(&status, MPI_BYTE, &bytes);
  sender = status.MPI_SOURCE;
  Header header{};
  std::memcpy(&header, receive_buffer, sizeof header);
  // The name is exactly what arrived after the header: nothing of an
  // earlier sender's longer name is left in it.
  const int name_bytes = bytes - static_cast<int>(sizeof header);
  report = {header.measurement, header.rank_label, header.seconds, header.figure,
            std::string(receive_buffer + sizeof header, name_bytes > 0 ? static_cast<std::size_t>(name_bytes) : 0)};
  return true;
}

void wait_for_all() {
  if (receive_request != MPI_REQUEST_NULL) {
    MPI_Cancel(&receive_request);
    MPI_Wait(&receive_request, MPI_STATUS_IGNORE);
  }
  wait_for_all_ranks();
}
