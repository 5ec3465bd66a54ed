// Waiting on MPI without holding a core. A blocking MPI wait polls at full
// speed in Open MPI, and a node's other ranks may still be measuring; so the
// program tests its requests and sleeps between tests, a little longer each
// time nothing has happened, up to a bound that keeps it responsive.
#pragma once

#include <mpi.h>

#include <ctime>

// Sleeps between polls: from 1 ms, doubling, to at most 64 ms. A signal
// ends the sleep at once (nanosleep is never restarted), so rank 0 sees a
// launcher's SIGTERM within microseconds, not at the next poll: some
// launchers follow it with SIGKILL a few milliseconds later.
class QuietPoll {
 public:
  void pause() {
    const timespec pause = {0, pause_ms_ * 1000000L};
    nanosleep(&pause, nullptr);
    if (pause_ms_ < MAX_PAUSE_MS) pause_ms_ *= 2;
  }
  void reset() { pause_ms_ = MIN_PAUSE_MS; }

 private:
  static constexpr long MIN_PAUSE_MS = 1;
  static constexpr long MAX_PAUSE_MS = 64;
  long pause_ms_ = MIN_PAUSE_MS;
};

// Returns once `request` has completed.
inline void wait_quietly(MPI_Request& request) {
  QuietPoll poll;
  for (int done = 0; MPI_Test(&request, &done, MPI_STATUS_IGNORE), !done;) poll.pause();
}

// Returns once every one of `count` requests has completed.
inline void wait_all_quietly(int count, MPI_Request* requests) {
  QuietPoll poll;
  for (int done = 0; MPI_Testall(count, requests, &done, MPI_STATUSES_IGNORE), !done;) poll.pause();
}
