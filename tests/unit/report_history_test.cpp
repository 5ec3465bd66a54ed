// stelvane-report: each node against its own normal, and the probable cause
// of a slow node, on constructed runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "judging/causes.h"
#include "judging/history.h"
#include "writing/wording.h"

namespace {

// One run in which every node has `ratio` in every measurement, but for
// the changes made, and one worker unless told.
struct FakeRun {
  RunSummary summary;

  FakeRun(const std::vector<std::string>& nodes, double ratio = 1.0) {
    std::fill(std::begin(summary.judged), std::end(summary.judged), true);
    for (const std::string& name : nodes) {
      RunSummary::Node& node = summary.nodes.emplace_back();
      node.name = name;
      node.workers = 1;
      for (double& r : node.ratios) r = ratio;
    }
  }
  RunSummary::Node& node(const std::string& name) {
    for (RunSummary::Node& node : summary.nodes)
      if (node.name == name) return node;
    throw std::out_of_range(name);
  }
  FakeRun& ratio(const std::string& name, std::initializer_list<int> measurements, double ratio) {
    for (int m : measurements) node(name).ratios[m] = ratio;
    return *this;
  }
};

const std::vector<std::string> NODES = {"a", "b", "c", "d"};
const std::initializer_list<int> BYTEWISE = {BYTEWISE_WRITE, BYTEWISE_READ};

// Feeds `history` runs in which node a's ratios alternate 1 - wobble and
// 1 + wobble (the other nodes' stay at 1), then the runs `after`; the
// OwnNormal of node a in the last run.
OwnNormal node_a_after(int history, double wobble, const std::vector<FakeRun>& after) {
  NodeHistories histories;
  HeldRun held;
  for (int i = 0; i < history; ++i)
    held = histories.take(FakeRun(NODES).ratio("a", {0, 1, 2, 3, 4, 5}, i % 2 ? 1 - wobble : 1 + wobble).summary, false);
  for (const FakeRun& run : after) held = histories.take(run.summary, true);
  return held.normals.front();
}

// The runs that make a node's normal: not those in which its peers named it
// slow, nor those in which it was failed; every other judged run counts.
TEST(OwnNormal, RunsSlowByItsPeersOrFailedAreLeftOut) {
  NodeHistories histories;
  for (int i = 0; i < 10; ++i) {
    FakeRun run(NODES);
    run.ratio("a", {0, 1, 2, 3, 4, 5}, i % 2 ? 0.99 : 1.01);
    if (i == 2 || i == 5 || i == 7) {
      run.ratio("a", {0, 1, 2, 3, 4, 5}, 0.5);
      run.node("a").verdict = i == 7 ? Verdict::failed : Verdict::slow;
    }
    histories.take(run.summary, false);
  }
  const OwnNormal own = histories.take(FakeRun(NODES).summary, false).normals.front();
  EXPECT_EQ(own.runs[BYTEWISE_WRITE], 7);
  EXPECT_NEAR(own.normal[BYTEWISE_WRITE], 1.0, 0.011);
}

TEST(OwnNormal, TooFewRunsAndAFlatHistory) {
  const FakeRun low = FakeRun(NODES).ratio("a", BYTEWISE, 0.9);
  EXPECT_FALSE(node_a_after(MIN_HISTORY_RUNS - 1, 0.0, {low}).known(BYTEWISE_WRITE));
  // A flat history: its spread is the floor, so a ratio within
  // OWN_LOW_SPREADS floors is not low, one below is.
  const double edge = 1.0 - OWN_LOW_SPREADS * OWN_SPREAD_FLOOR;
  const OwnNormal flat = node_a_after(MIN_HISTORY_RUNS, 0.0, {FakeRun(NODES).ratio("a", BYTEWISE, edge + 0.001)});
  ASSERT_TRUE(flat.known(BYTEWISE_WRITE));
  EXPECT_DOUBLE_EQ(flat.spread[BYTEWISE_WRITE], OWN_SPREAD_FLOOR);
  EXPECT_FALSE(flat.low[BYTEWISE_WRITE]);
  EXPECT_TRUE(node_a_after(MIN_HISTORY_RUNS, 0.0, {FakeRun(NODES).ratio("a", BYTEWISE, edge - 0.001)}).low[BYTEWISE_WRITE]);
  // A node steadier than the others gets their spread, not its own.
  NodeHistories histories;
  for (int i = 0; i < 10; ++i) {
    FakeRun run(NODES);
    for (const char* name : {"b", "c", "d"}) run.ratio(name, BYTEWISE, 1.0 + 0.05 * (i % 3 - 1));
    histories.take(run.summary, false);
  }
  const std::vector<OwnNormal> normals = histories.take(FakeRun(NODES).ratio("a", BYTEWISE, 0.85).summary, false).normals;
  EXPECT_NEAR(normals[0].spread[BYTEWISE_WRITE], normals[1].spread[BYTEWISE_WRITE], 1e-12);
  EXPECT_FALSE(normals[0].low[BYTEWISE_WRITE]);
}

TEST(OwnNormal, SlowOnlyWhenItLasts) {
  const FakeRun low = FakeRun(NODES).ratio("a", BYTEWISE, 0.85);
  const OwnNormal once = node_a_after(10, 0.01, {low});
  EXPECT_TRUE(once.low_run);
  EXPECT_EQ(once.recent_low_runs, 1);
  const OwnNormal twice = node_a_after(10, 0.01, {low, FakeRun(NODES), low});
  EXPECT_EQ(twice.recent_low_runs, 2);  // 2 of the last 3
  EXPECT_EQ(node_a_after(10, 0.01, {low, FakeRun(NODES), FakeRun(NODES), low}).recent_low_runs, 1);
  // Low runs do not make its normal: it stays where it was.
  EXPECT_NEAR(twice.normal[BYTEWISE_WRITE], 1.0, 0.011);
  // One low measurement is not a low run; but the same one low in 2 of the
  // last 3 runs lasts as two low runs do, and two different ones do not.
  const FakeRun read_low = FakeRun(NODES).ratio("a", {BYTEWISE_READ}, 0.8);
  EXPECT_FALSE(node_a_after(10, 0.01, {read_low}).low_run);
  EXPECT_EQ(node_a_after(10, 0.01, {read_low}).lasting(), 1);
  EXPECT_EQ(node_a_after(10, 0.01, {read_low, FakeRun(NODES), read_low}).lasting(), 2);
  EXPECT_EQ(node_a_after(10, 0.01, {FakeRun(NODES).ratio("a", {STREAMS}, 0.8), read_low}).lasting(), 1);
  EXPECT_EQ(twice.lasting(), 2);
}

TEST(OwnNormal, ANewNodeAndANodeWithOtherWorkersHaveNoNormal) {
  NodeHistories histories;
  for (int i = 0; i < 10; ++i) histories.take(FakeRun(NODES).summary, false);
  FakeRun changed = FakeRun({"a", "b", "c", "d", "e"}).ratio("a", BYTEWISE, 0.5);
  changed.node("a").workers = 2;
  const std::vector<OwnNormal> normals = histories.take(changed.summary, false).normals;
  EXPECT_FALSE(normals[0].known_anywhere());  // a: another number of workers
  EXPECT_TRUE(normals[1].known_anywhere());
  EXPECT_FALSE(normals[4].known_anywhere());  // e: new
  // Runs in which a measurement was not judged do not count towards it.
  FakeRun unjudged(NODES);
  unjudged.summary.judged[BLOCK_READ] = false;
  NodeHistories sparse;
  for (int i = 0; i < 10; ++i) sparse.take(i < 6 ? unjudged.summary : FakeRun(NODES).summary, false);
  EXPECT_EQ(sparse.take(FakeRun(NODES).summary, false).normals[1].runs[BLOCK_READ], 4);
}

TEST(ProbableCause, EachPatternAndNoneOtherwise) {
  const bool all[MEASUREMENT_COUNT] = {true, true, true, true, true, true};
  const bool no_block[MEASUREMENT_COUNT] = {true, true, true, true, false, false};
  const bool bytewise_only[MEASUREMENT_COUNT] = {false, false, true, true, false, false};
  struct Case {
    const bool* judged;
    std::vector<int> low, near;
    Cause cause;
  };
  const Case cases[] = {
      {no_block, {BYTEWISE_WRITE, BYTEWISE_READ}, {}, Cause::cpu},
      {no_block, {STREAMS, DESCRIPTORS}, {BYTEWISE_WRITE, BYTEWISE_READ}, Cause::metadata},
      {all, {STREAMS}, {BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_READ, BLOCK_WRITE}, Cause::metadata},
      {all, {STREAMS, DESCRIPTORS}, {BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_WRITE}, Cause::unclear},  // block read between
      {no_block, {STREAMS, DESCRIPTORS, BYTEWISE_WRITE}, {BYTEWISE_READ}, Cause::sync},
      {all, {STREAMS, DESCRIPTORS, BLOCK_WRITE}, {BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_READ}, Cause::sync},
      {all, {BLOCK_READ}, {STREAMS, DESCRIPTORS, BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_WRITE}, Cause::bandwidth},
      {all, {BLOCK_READ}, {STREAMS, DESCRIPTORS, BYTEWISE_READ}, Cause::unclear},  // byte-wise write between
      {no_block, {BYTEWISE_WRITE}, {STREAMS, DESCRIPTORS, BYTEWISE_READ}, Cause::unclear},
      {bytewise_only, {BYTEWISE_WRITE}, {BYTEWISE_READ}, Cause::sync},  // file handling too short to judge
      {no_block, {STREAMS, DESCRIPTORS}, {STREAMS, BYTEWISE_WRITE, BYTEWISE_READ}, Cause::unclear},
  };
  for (const Case& c : cases) {
    bool low[MEASUREMENT_COUNT] = {}, near[MEASUREMENT_COUNT] = {};
    for (int m : c.low) low[m] = true;
    for (int m : c.near) near[m] = true;
    EXPECT_EQ(cause_of(c.judged, low, near), c.cause) << cause_key(c.cause);
  }
}

// Eight earlier runs in which node a's file handling is at `history_ratio`
// (NaN: too short to judge) and the other nodes' figures at 1.
std::vector<RunSummary> history_of_a(double history_ratio) {
  std::vector<RunSummary> history;
  for (int i = 0; i < 8; ++i) {
    FakeRun run(NODES);
    if (std::isnan(history_ratio))
      run.summary.judged[STREAMS] = run.summary.judged[DESCRIPTORS] = false;
    else
      run.ratio("a", {STREAMS, DESCRIPTORS}, history_ratio);
    history.push_back(run.summary);
    history.back().stamp.time_stamp = "2026-11-0" + std::to_string(i + 1) + "T00:00:00";
  }
  return history;
}

// A run of NODES as their peers judge it, every peer line at the floor and
// the four measurements before the block ones judged (and `also_judged`),
// node a at `ratio` in `slowed`; held against `history`, which gives each
// node its verdicts.
JudgedRun judged_run(const ResultFile& file, std::initializer_list<int> slowed, double ratio,
                     const std::vector<RunSummary>& history, std::initializer_list<int> also_judged = {}) {
  JudgedRun run{&file, {}};
  Verdicts& verdicts = run.verdicts;
  std::fill(std::begin(verdicts.judged), std::begin(verdicts.judged) + 4, true);
  for (int m : also_judged) verdicts.judged[m] = true;
  for (const std::string& name : NODES) {
    NodeVerdict& node = verdicts.nodes.emplace_back();
    node.node = name;
    node.workers = 1;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      node.ratios[m] = name == "a" && std::find(slowed.begin(), slowed.end(), m) != slowed.end() ? ratio : 1.0;
      node.fleet_ratios[m] = node.ratios[m];  // one kind: its level against the cluster is its ratio
      node.lines[m] = LOW_RATIO_FLOOR;
      node.low[m] = verdicts.judged[m] && node.ratios[m] < node.lines[m];
      node.figures[m] = 100 * node.ratios[m];
    }
  }
  std::vector<JudgedRun> runs = {std::move(run)};
  judge_against_history(runs, history);
  return std::move(runs[0]);
}

// A slow node's verdict and cause through a whole judged run: a node whose
// file handling alone fell against its own normal, in two runs of three.
TEST(ProbableCause, AgainstItsOwnNormalInAJudgedRun) {
  std::vector<RunSummary> history = history_of_a(0.9);
  history[7].nodes[0].ratios[STREAMS] = history[7].nodes[0].ratios[DESCRIPTORS] = 0.7;
  ResultFile file;
  file.stamp.time_stamp = "2026-12-01T00:00:00";
  const JudgedRun run = judged_run(file, {STREAMS, DESCRIPTORS}, 0.72, history);
  const NodeVerdict& a = *run.verdicts.of("a");
  EXPECT_EQ(run.history_runs, 8);
  EXPECT_EQ(a.by_peers, Verdict::ok);
  EXPECT_EQ(a.verdict, Verdict::slow);
  EXPECT_EQ(a.cause.cause, Cause::metadata);
  EXPECT_STREQ(cause_against(a.cause), "own_normal");
  EXPECT_EQ(cause_text(a.cause), "probably the metadata path: streams 0.80, descriptors 0.80, byte-wise 1.00/1.00 of "
                                 "its own normal");
  for (const NodeVerdict& node : run.verdicts.nodes)
    if (node.node != "a") {
      EXPECT_EQ(node.cause.cause, Cause::none) << node.node;
    }
}

// A node whose file handling was never judged in its history (too short at
// that size), now far below its peers there and near its own normal in the
// byte-wise measurements: each measurement against its own normal where it
// has one, else against its peers, and low by whichever line finds it so.
TEST(ProbableCause, EachMeasurementAgainstWhatItHas) {
  ResultFile file;
  file.stamp.time_stamp = "2026-12-01T00:00:00";
  const JudgedRun run = judged_run(file, {STREAMS, DESCRIPTORS}, 0.02, history_of_a(NAN));
  const ProbableCause& cause = run.verdicts.of("a")->cause;
  EXPECT_EQ(cause.cause, Cause::metadata);
  EXPECT_STREQ(cause_against(cause), "both");
  EXPECT_EQ(cause_text(cause), "probably the metadata path: byte-wise 1.00/1.00 of its own normal; streams 0.02, "
                               "descriptors 0.02 of its peers' median");
}

// Eight earlier runs in which the block read was mostly too short to judge
// and every node's ratio there swung between 0.4 and 2 from run to run, as
// when chance decides a span of a few scheduler periods.
std::vector<RunSummary> history_swinging_in_block_read() {
  std::vector<RunSummary> history = history_of_a(1.0);
  for (std::size_t i = 0; i < history.size(); ++i) {
    history[i].judged[BLOCK_READ] = i == 3;
    for (RunSummary::Node& node : history[i].nodes) node.ratios[BLOCK_READ] = (i + node.name[0]) % 2 ? 0.4 : 2.0;
  }
  return history;
}

// The peer line lies no lower than before where the nodes keep their ratios
// from run to run, and drops where they do not: one run's low ratio there is
// no finding, a node many times slower still is.
TEST(PeerLine, HeldToHowFarTheNodesStrayFromRunToRun) {
  ResultFile file;
  file.stamp.time_stamp = "2026-12-01T00:00:00";
  const JudgedRun steady = judged_run(file, {BLOCK_READ}, 0.3, history_of_a(1.0), {BLOCK_READ});
  EXPECT_NEAR(steady.verdicts.run_to_run[BLOCK_READ], OWN_SPREAD_FLOOR, 1e-12);
  EXPECT_EQ(steady.verdicts.of("a")->lines[BLOCK_READ], LOW_RATIO_FLOOR);
  EXPECT_EQ(steady.verdicts.of("a")->verdict, Verdict::suspect);

  const JudgedRun swinging = judged_run(file, {BLOCK_READ}, 0.3, history_swinging_in_block_read(), {BLOCK_READ});
  const NodeVerdict& a = *swinging.verdicts.of("a");
  EXPECT_FALSE(a.own.known(BLOCK_READ));  // judged once: no normal of its own there
  EXPECT_LT(a.lines[BLOCK_READ], 0.3);
  EXPECT_EQ(a.lines[BLOCK_READ], swinging.verdicts.peer_ceiling(BLOCK_READ));
  EXPECT_EQ(a.lines[STREAMS], LOW_RATIO_FLOOR);
  EXPECT_EQ(a.by_peers, Verdict::ok);
  EXPECT_EQ(a.verdict, Verdict::ok);
  EXPECT_EQ(a.cause.cause, Cause::none);
  const JudgedRun far_slower = judged_run(file, {BLOCK_READ}, 0.01, history_swinging_in_block_read(), {BLOCK_READ});
  EXPECT_EQ(far_slower.verdicts.of("a")->by_peers, Verdict::suspect);
}

}  // namespace
