#include "exchange.h"

#include <cstring>

#include "../globals.h"
#include "../test_hooks.h"
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

// Every report travels with one tag, and MPI keeps one sender's messages in
// order: the reports of a worker arrive as it sent them.
constexpr int REPORT_TAG = 0;

void send_report(int measurement, int rank_label, double seconds, double figure) {
  char* message = send_buffers[sends_started];
  const Header header = {measurement, rank_label, seconds, figure};
  std::memcpy(message, &header, sizeof header);
  std::memcpy(message + sizeof header, proc_name, static_cast<std::size_t>(nameLength));
  MPI_Isend(message, static_cast<int>(sizeof header) + nameLength, MPI_BYTE, 0, REPORT_TAG, MPI_COMM_WORLD,
            &send_requests[sends_started]);
  ++sends_started;
}

// Rank 0's word to a worker that the run is over without the others.
constexpr int RUN_OVER_TAG = 1;
// A worker's word to rank 0 that it has come to the end of the run: rank 0
// can name a worker that never does, which a barrier cannot.
constexpr int AT_THE_END_TAG = 2;

// The first word between rank 0 and the last rank, before anything else.
constexpr int FIRST_WORD_TAG = 3;

// Rank 0's one posted receive, from any worker.
char receive_buffer[MESSAGE_BYTES];
MPI_Request receive_request = MPI_REQUEST_NULL;

// Rank 0's record of which workers have said they are at the end.
class WorkersAtTheEnd {
 public:
  WorkersAtTheEnd() : at_the_end_(static_cast<std::size_t>(nproc), 0) { listen(); }

  bool all() const { return count_ == nproc - 1; }

  // Takes a word that has arrived, without waiting; true when one had.
  bool take() {
    if (all()) return false;
    int arrived = 0;
    MPI_Status word;
    MPI_Test(&listening_, &arrived, &word);
    if (!arrived) return false;
    at_the_end_[static_cast<std::size_t>(word.MPI_SOURCE)] = 1;
    ++count_;
    listen();
    return true;
  }

  // Stops listening, and sorts the workers by whether they said so.
  EndOfRun ended(bool all_came) {
    if (!all()) {
      MPI_Cancel(&listening_);
      MPI_Wait(&listening_, MPI_STATUS_IGNORE);
    }
    EndOfRun end;
    end.all = all_came;
    for (int worker = 1; worker < nproc; ++worker)
      (at_the_end_[static_cast<std::size_t>(worker)] ? end.at_the_end : end.missing).push_back(worker);
    return end;
  }

 private:
  void listen() {
    if (!all())
      MPI_Irecv(nullptr, 0, MPI_BYTE, MPI_ANY_SOURCE, AT_THE_END_TAG, MPI_COMM_WORLD, &listening_);
  }

  std::vector<char> at_the_end_;
  int count_ = 0;
  MPI_Request listening_ = MPI_REQUEST_NULL;
};

// A worker's wait at the end: for every rank, or for rank 0's word that the
// run is over without them. Returns whether every rank came.
bool wait_for_all_ranks_or_word() {
  MPI_Request waits[2];
  MPI_Ibarrier(MPI_COMM_WORLD, &waits[0]);
  MPI_Irecv(nullptr, 0, MPI_BYTE, 0, RUN_OVER_TAG, MPI_COMM_WORLD, &waits[1]);
  int which = MPI_UNDEFINED;
  wait_quietly_for(
      [&] {
        int done = 0;
        MPI_Testany(2, waits, &which, &done, MPI_STATUS_IGNORE);
        return done ? Waited::done : Waited::nothing;
      },
      never_give_up);
  if (which == 1) return false;
  MPI_Cancel(&waits[1]);
  MPI_Wait(&waits[1], MPI_STATUS_IGNORE);
  return true;
}

}  // namespace

bool first_word_with_last_rank(int own_rank, int ranks, double seconds) {
  const int last = ranks - 1;
  if (last == 0 || (own_rank != 0 && own_rank != last)) return true;
  const double until = MPI_Wtime() + seconds;
  const auto too_late = [&] { return MPI_Wtime() > until; };
  MPI_Request words[2];
  if (own_rank == 0) {
    MPI_Isend(nullptr, 0, MPI_BYTE, last, FIRST_WORD_TAG, MPI_COMM_WORLD, &words[0]);
    MPI_Irecv(nullptr, 0, MPI_BYTE, last, FIRST_WORD_TAG, MPI_COMM_WORLD, &words[1]);
    return wait_all_quietly(2, words, too_late);
  }
  // The last rank only answers: had it spoken first, its connection could
  // reach rank 0 before rank 0 counts what it holds, and hide the cost.
  MPI_Irecv(nullptr, 0, MPI_BYTE, 0, FIRST_WORD_TAG, MPI_COMM_WORLD, &words[0]);
  if (!wait_all_quietly(1, words, too_late)) return false;
  MPI_Isend(nullptr, 0, MPI_BYTE, 0, FIRST_WORD_TAG, MPI_COMM_WORLD, &words[1]);
  return wait_all_quietly(1, &words[1], too_late);
}

int agree_on_reporting_workers(int rank0_decision) {
  MPI_Bcast(&rank0_decision, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return rank0_decision;
}

void send_greeting(int rank_label) {
  send_report(GREETING, rank_label, 0.0, 0.0);
  wait_quietly(send_requests[0]);
}

void send_result_report(MeasurementId id, int rank_label, double seconds, double figure) {
  send_report(id, rank_label, seconds, figure);
}

void finish_reports() { wait_all_quietly(sends_started, send_requests); }

bool come_to_the_end() {
  test_hook_at_the_end(iproc);
  MPI_Request said;
  MPI_Isend(nullptr, 0, MPI_BYTE, 0, AT_THE_END_TAG, MPI_COMM_WORLD, &said);
  if (!wait_for_all_ranks_or_word()) return false;
  wait_quietly(said);
  return true;
}

bool take_arrived_report(int& sender, ResultReport& report) {
  if (receive_request == MPI_REQUEST_NULL)
    MPI_Irecv(receive_buffer, MESSAGE_BYTES, MPI_BYTE, MPI_ANY_SOURCE, REPORT_TAG, MPI_COMM_WORLD, &receive_request);
  int arrived = 0;
  MPI_Status arrival;
  MPI_Test(&receive_request, &arrived, &arrival);
  if (!arrived) return false;
  int bytes = 0;
  MPI_Get_count(&arrival, MPI_BYTE, &bytes);
  sender = arrival.MPI_SOURCE;
  Header header{};
  std::memcpy(&header, receive_buffer, sizeof header);
  // The name is exactly what arrived after the header: nothing of an
  // earlier sender's longer name is left in it.
  const int name_bytes = bytes - static_cast<int>(sizeof header);
  report = {header.measurement, header.rank_label, header.seconds, header.figure,
            std::string(receive_buffer + sizeof header, name_bytes > 0 ? static_cast<std::size_t>(name_bytes) : 0)};
  return true;
}

EndOfRun wait_for_all(double seconds) {
  if (receive_request != MPI_REQUEST_NULL) {
    MPI_Cancel(&receive_request);
    MPI_Wait(&receive_request, MPI_STATUS_IGNORE);
  }
  const double until = MPI_Wtime() + seconds;
  WorkersAtTheEnd workers;
  MPI_Request barrier;
  MPI_Ibarrier(MPI_COMM_WORLD, &barrier);
  // Every worker says it is at the end before it enters the barrier, so once
  // the barrier is done every word is on its way: all are taken, and none is
  // left unmatched at MPI_Finalize.
  bool barrier_done = false;
  const bool all_came = wait_quietly_for(
      [&] {
        if (barrier_done && workers.all()) return Waited::done;
        const bool word = workers.take();
        if (!barrier_done) {
          int done = 0;
          MPI_Test(&barrier, &done, MPI_STATUS_IGNORE);
          barrier_done = done;
        }
        return word ? Waited::progress : barrier_done && workers.all() ? Waited::done : Waited::nothing;
      },
      [&] { return MPI_Wtime() > until; });
  return workers.ended(all_came);
}

void tell_run_is_over(const std::vector<int>& workers) {
  std::vector<MPI_Request> sends(workers.size());
  for (std::size_t i = 0; i < workers.size(); ++i)
    MPI_Isend(nullptr, 0, MPI_BYTE, workers[i], RUN_OVER_TAG, MPI_COMM_WORLD, &sends[i]);
  wait_all_quietly(static_cast<int>(sends.size()), sends.data());
}
