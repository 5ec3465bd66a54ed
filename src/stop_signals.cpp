#include "stop_signals.h"

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t caught_signal = 0;

extern "C" void note_stop_signal(int signal_number) { caught_signal = signal_number; }

}  // namespace

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = note_stop_signal;
  sigemptyset(&action.sa_mask);
  // Restarted calls: a signal must not fail a measurement's operations.
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGTERM, SIGINT, SIGUSR1}) sigaction(signal_number, &action, nullptr);
}

void ignore_warning_signal() { std::signal(SIGUSR1, SIG_IGN); }

bool stop_requested() { return caught_signal != 0; }

const char* stop_signal_name() {
  switch (caught_signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGUSR1: return "SIGUSR1";
  }
  return "a signal";
}
