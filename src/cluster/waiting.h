// The one wait of the exchange and the collection, apart from MPI so that
// its rule can be checked alone: poll, sleep a little longer each time
// nothing has happened, and give up only when nothing came.
#pragma once

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

// What one step of a wait found: the end it waits for, something that
// moves it on (an answer), or nothing yet.
enum class Waited { done, progress, nothing };

// The one wait: repeats `step` until it finds the end, sleeping after each
// step that found nothing (after progress the sleeps start short again),
// unless `give_up` says the wait is over, which it is asked only then: an
// answer that has arrived is always taken first. Whether the end was found.
template <typename Step, typename GiveUp>
bool wait_quietly_for(Step step, GiveUp give_up) {
  QuietPoll poll;
  for (;;) {
    switch (step()) {
      case Waited::done: return true;
      case Waited::progress: poll.reset(); break;
      case Waited::nothing:
        if (give_up()) return false;
        poll.pause();
    }
  }
}

// A wait that only ends when its end is found.
inline bool never_give_up() { return false; }
