// The result reports: a worker tells rank 0 who it is as soon as it starts
// (its greeting), and after each measurement sends one report with what rank
// 0 prints of it: its rank label, its processor name, its seconds and its
// figure. Every message has tag 0, and MPI keeps the messages of one sender
// in order, so a worker's reports arrive greeting first, then measurement by
// measurement; rank 0 takes them from whichever worker sends.
//
// A worker never waits for rank 0: each report is sent without blocking from
// a buffer of its own, and the worker sees them all delivered at the end.
// Then it tells rank 0 it has come to the end, and waits for every rank or
// for rank 0's word that the run is over without them; rank 0 waits for the
// workers only so long, so that one that hangs after its last report is
// named rather than waited for.
#pragma once

#include <string>
#include <vector>

#include "../measurements.h"
#include "../sizes.h"

// What a report says. `measurement` is a MeasurementId, or GREETING.
struct ResultReport {
  int measurement = 0;
  int rank_label = 0;
  double seconds = 0.0;
  double figure = 0.0;
  std::string name;  // the sender's processor name, exactly as it arrived
};

inline constexpr int GREETING = -1;

// Every rank: rank 0 and the last rank exchange an empty message, the first
// between them, so that rank 0 can see what a connection to a peer costs
// it. Rank 0 speaks first; the last rank answers once it has heard. Returns
// false where the other gave no word within `seconds`.
bool first_word_with_last_rank(int own_rank, int ranks, double seconds);

// Every rank: how many workers, from rank 1 on, send their reports to rank
// 0, as rank 0 decides (`rank0_decision` counts on rank 0 alone). A worker
// above that number sends rank 0 nothing: rank 0 could not take its
// connection. Rank 0 reaches the others through a tree, not each directly.
int agree_on_reporting_workers(int rank0_decision);

// Worker: says who it is, and returns once the greeting has left, so that
// rank 0 knows its node even if it is lost in its first measurement (over
// TCP a message leaves only once rank 0 has taken the connection).
void send_greeting(int rank_label);

// Worker: sends its rank label, seconds and figure of a measurement.
void send_result_report(MeasurementId id, int rank_label, double seconds, double figure);

// Worker: returns once every report it sent has left, without holding a core
// while it waits.
void finish_reports();

// Worker: tells rank 0 it has come to the end of the run, and returns once
// every rank has; false when rank 0 said instead that the run is over
// without the others.
bool come_to_the_end();

// Rank 0: the next report that has arrived from any worker, without waiting;
// false when none has. `sender` is the rank it came from.
bool take_arrived_report(int& sender, ResultReport& report);

// Which workers came to the end of the run: all, or those that said they
// had and those that never did, each in rank order. Some may say so and
// stop before the end: then none is missing, yet not all came.
struct EndOfRun {
  bool all = false;
  std::vector<int> at_the_end;
  std::vector<int> missing;
};

// Rank 0: returns once every rank has come to the end of the run, or once
// `seconds` have passed, without holding a core while it waits.
EndOfRun wait_for_all(double seconds);

// Rank 0: tells the workers in `workers` that the run is over without the
// others (some cannot come to the end), and returns once it has been said.
void tell_run_is_over(const std::vector<int>& workers);
