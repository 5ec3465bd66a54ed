#include "stop_signals.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>

#include <unistd.h>

namespace {

volatile std::sig_atomic_t caught_signal = 0;

extern "C" void note_stop_signal(int signal_number) { caught_signal = signal_number; }

// Hydra starts every rank from its proxy, on each node and whatever starts
// the proxies (ssh, rsh, srun).
bool started_by_hydra() {
  std::ifstream parent("/proc/" + std::to_string(getppid()) + "/comm");
  std::string name;
  return std::getline(parent, name) && name == "hydra_pmi_proxy";
}

}  // namespace

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = note_stop_signal;
  sigemptyset(&action.sa_mask);
  // Restarted calls: a signal must not fail a measurement's operations.
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGTERM, SIGINT}) sigaction(signal_number, &action, nullptr);
  if (started_by_hydra())
    ignore_warning_signal();
  else
    sigaction(SIGUSR1, &action, nullptr);
}

void ignore_warning_signal() { std::signal(SIGUSR1, SIG_IGN); }

bool stop_requested() { return caught_signal != 0; }

bool job_being_ended() { return caught_signal == SIGTERM || caught_signal == SIGINT; }

void end_by_stop_signal() {
  const int signal_number = caught_signal;
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
  std::_Exit(128 + signal_number);  // only if the signal is blocked
}

const char* stop_signal_name() {
  switch (caught_signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGUSR1: return "SIGUSR1";
  }
  return "a signal";
}
