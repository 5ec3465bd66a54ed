#include "answers.h"

#include <algorithm>
#include <iterator>

#include "../sizes.h"

void WorkerAnswers::begin(int ranks) {
  greetings_ = 0;
  std::fill(std::begin(latest_answer_at_), std::end(latest_answer_at_), 0.0);
  answered_.assign(ranks, 0);
  lost_from_.assign(ranks, MEASUREMENT_COUNT);
  node_.assign(ranks, std::string());
}

void WorkerAnswers::greeted(int rank, const std::string& node) {
  node_[rank] = node;
  ++greetings_;
}

bool WorkerAnswers::reported(int rank, int id, double now) {
  if (lost_from_[rank] != MEASUREMENT_COUNT || answered_[rank] != id) return false;
  ++answered_[rank];
  rank0_done(id, now);
  return true;
}

void WorkerAnswers::rank0_done(int id, double at) { latest_answer_at_[id] = std::max(latest_answer_at_[id], at); }

double WorkerAnswers::deadline_after_start(int id) const {
  return ANSWER_FACTOR * std::max(0.0, latest_answer_at_[id] - start_) + ANSWER_MARGIN_SECONDS;
}

double WorkerAnswers::deadline(int id) const { return start_ + deadline_after_start(id); }

bool WorkerAnswers::any_lost() const {
  return std::any_of(lost_from_.begin(), lost_from_.end(), [](int from) { return from != MEASUREMENT_COUNT; });
}
