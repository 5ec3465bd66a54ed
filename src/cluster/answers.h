// Rank 0's ledger of its workers' answers: which reports each worker has
// sent, by when rank 0 gives up waiting for the next, and which workers it
// gave up. Free of MPI: times are seconds on rank 0's clock.
//
// A worker's reports arrive in the order it measures, so what a worker has
// answered is a count. Once given up in a measurement, a worker counts as
// lost in that one and every later one; anything it sends afterwards is
// ignored.
#pragma once

#include <string>
#include <vector>

#include "../measurements.h"

class WorkerAnswers {
 public:
  // A job of `ranks` ranks.
  void begin(int ranks);

  // The ranks began to measure at `start` seconds: answers count from here.
  // A fast worker may answer before the last greeting has come and the
  // clock starts; its answer counts as given at the start.
  void start_clock(double start) { start_ = start; }

  // A worker's greeting: the node it runs on.
  void greeted(int rank, const std::string& node);
  int greetings() const { return greetings_; }

  // A report of measurement `id` from `rank`, arrived at `now`. False when
  // it is not to be used: the rank was given up, or it is not the report
  // that rank owes next.
  bool reported(int rank, int id, double now);

  // Rank 0's own end of measurement `id`: an answer like any other.
  void rank0_done(int id, double at);

  // When rank 0 stops waiting for measurement `id`: ANSWER_FACTOR times the
  // latest answer so far (from the start), plus the margin.
  double deadline(int id) const;
  double deadline_after_start(int id) const;  // the same, counted from the start

  // Whether rank 0 need not wait for `rank`'s report of `id`.
  bool settled(int rank, int id) const { return answered_[rank] > id || lost_from_[rank] <= id; }

  // Gives `rank` up from measurement `id` on.
  void give_up(int rank, int id) { lost_from_[rank] = id; }

  // The measurement `rank` was given up in, or MEASUREMENT_COUNT.
  int lost_from(int rank) const { return lost_from_[rank]; }
  bool any_lost() const;
  const std::string& node(int rank) const { return node_[rank]; }

 private:
  double start_ = 0.0;
  int greetings_ = 0;
  double latest_answer_at_[MEASUREMENT_COUNT] = {};  // on rank 0's clock, 0 before any
  std::vector<int> answered_;                        // reports taken, per rank
  std::vector<int> lost_from_;
  std::vector<std::string> node_;                    // empty until the greeting
};
