// Waiting on MPI without holding a core. A blocking MPI wait polls at full
// speed in Open MPI, and a node's other ranks may still be measuring; so the
// program tests its requests and sleeps between tests, a little longer each
// time nothing has happened, up to a bound that keeps it responsive.
#pragma once

#include <mpi.h>

#include <chrono>
#include <thread>

// Sleeps between polls: from 1 ms, doubling, to at most 50 ms.
class QuietPoll {
 public:
  void pause() {
    std::this_thread::sleep_for(pause_);
    if (pause_ < MAX_PAUSE) pause_ *= 2;
  }
  void reset() { pause_ = MIN_PAUSE; }

 private:
  static constexpr std::chrono::milliseconds MIN_PAUSE{1};
  static constexpr std::chrono::milliseconds MAX_PAUSE{50};
  std::chrono::milliseconds pause_ = MIN_PAUSE;
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
