// stelvane-report: the node verdict on constructed figures, and the number
// grammar.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include "writing/drain.h"
#include "failures.h"
#include "workloads/report_outline.h"
#include "reading/result_reader.h"
#include "writing/units.h"
#include "judging/peers.h"
#include "judging/verdict.h"

namespace {

constexpr double LONG = 1.0;     // seconds: long enough to be judged
constexpr double SHORT = 0.0199;  // just too short

// A run of ranks_per_node ranks on each node, dealt out node by node in turn
// as --map-by node does: rank r on nodes[r % nodes], rank 0 on the first.
// Every figure is 100 and every measurement lasts LONG unless changed.
struct FakeRun {
  ResultFile file;

  FakeRun(const std::vector<std::string>& nodes, int ranks_per_node) {
    file.stamp.rank0_node = nodes[0];
    file.ranks = static_cast<int>(nodes.size()) * ranks_per_node;
    for (MeasurementFigures& m : file.measurements) {
      m.rank0_seconds = LONG;
      m.rank0_figure = 100;
      for (int rank = 1; rank < file.ranks; ++rank) m.workers.push_back({rank, nodes[rank % nodes.size()], LONG, 100});
    }
  }
  // Sets the figure of every worker on `node` in measurement m.
  FakeRun& figure(const std::string& node, int m, double figure) {
    for (WorkerFigures& worker : file.measurements[m].workers)
      if (worker.node == node) worker.figure = figure;
    return *this;
  }
  FakeRun& rank_figure(int rank, int m, double figure) {
    for (WorkerFigures& worker : file.measurements[m].workers)
      if (worker.rank == rank) worker.figure = figure;
    return *this;
  }
  FakeRun& seconds(int m, double seconds) {
    for (WorkerFigures& worker : file.measurements[m].workers) worker.seconds = seconds;
    return *this;
  }
  std::map<std::string, std::string> verdicts() const {
    std::map<std::string, std::string> named;
    for (const NodeVerdict& node : judge_nodes(file).nodes)
      if (node.verdict != Verdict::ok) named[node.node] = verdict_name(node.verdict);
    return named;
  }
};

const std::vector<std::string> FOUR = {"n1", "n2", "n3", "n4"};
using Named = std::map<std::string, std::string>;

}  // namespace

TEST(NodeVerdict, OrdinarySpreadNamesNobody) {
  // Sixteen nodes of two ranks whose figures scatter by 10 % (log-normal),
  // and a quiet one of four whose nodes lie within 5 % of each other.
  std::vector<std::string> sixteen;
  for (int n = 1; n <= 16; ++n) sixteen.push_back(std::string(1, 'n').append(std::to_string(n)));
  FakeRun wide(sixteen, 2);
  std::mt19937 random(7);
  std::lognormal_distribution<double> scatter(std::log(100.0), 0.1);
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    for (int rank = 1; rank < 32; ++rank) wide.rank_figure(rank, m, scatter(random));
  EXPECT_EQ(wide.verdicts(), Named{});
  FakeRun quiet(FOUR, 2);
  const double within[] = {97, 103, 100, 96, 104, 101, 99};
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    for (int rank = 1; rank <= 7; ++rank) quiet.rank_figure(rank, m, within[(rank + m) % 7]);
  EXPECT_EQ(quiet.verdicts(), Named{});
}

TEST(NodeVerdict, BoundariesOfLowAndOfSlow) {
  // Nodes that agree exactly: the line is its ceiling, 0.8.
  EXPECT_EQ(FakeRun(FOUR, 2).figure("n3", STREAMS, 79.9).figure("n3", BYTEWISE_WRITE, 79.9).verdicts(),
            (Named{{"n3", "slow"}}));
  EXPECT_EQ(FakeRun(FOUR, 2).figure("n3", STREAMS, 80.1).figure("n3", BYTEWISE_WRITE, 80.1).verdicts(), Named{});
  // Low in one measurement: suspect; in two: slow.
  EXPECT_EQ(FakeRun(FOUR, 2).figure("n3", DESCRIPTORS, 20).verdicts(), (Named{{"n3", "suspect"}}));
  // Measurements shorter than the judged length do not count.
  FakeRun short_ones(FOUR, 2);
  short_ones.figure("n2", BLOCK_READ, 5).figure("n2", BLOCK_WRITE, 5).seconds(BLOCK_READ, SHORT).seconds(BLOCK_WRITE, SHORT);
  EXPECT_EQ(short_ones.verdicts(), Named{});
  short_ones.seconds(BLOCK_READ, 0.02).seconds(BLOCK_WRITE, 0.02);
  EXPECT_EQ(short_ones.verdicts(), (Named{{"n2", "slow"}}));
}

TEST(NodeVerdict, TheLineFollowsTheOtherNodesSpreadWithinItsBounds) {
  EXPECT_DOUBLE_EQ(low_line(0.0), 0.8);
  EXPECT_NEAR(low_line(0.05), 1 - 4 * 1.4826 * 0.05, 1e-12);
  EXPECT_DOUBLE_EQ(low_line(0.5), 0.5);
  EXPECT_TRUE(std::isnan(low_line(NAN)));
  // n1 runs one worker and is set against the median of n2 to n4 (100).
  // Its line: they lie 0, 0.06 and 0.06 from it, so 1 - 4 x 1.4826 x 0.06;
  // with them at 125 and 80, far apart, the floor, 0.5.
  auto run_with = [](double n3, double n4, double n1) {
    FakeRun run(FOUR, 2);
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) run.figure("n3", m, n3).figure("n4", m, n4);
    return run.figure("n1", STREAMS, n1).figure("n1", DESCRIPTORS, n1);
  };
  EXPECT_EQ(run_with(106, 94, 64.0).verdicts(), (Named{{"n1", "slow"}}));
  EXPECT_EQ(run_with(106, 94, 64.8).verdicts(), Named{});
  EXPECT_NEAR(judge_nodes(run_with(106, 94, 64.0).file).nodes.front().lines[STREAMS], 0.6442, 0.0001);
  EXPECT_EQ(run_with(125, 80, 49.9).verdicts(), (Named{{"n1", "slow"}}));
  EXPECT_EQ(run_with(125, 80, 50.1).verdicts(), Named{});
}

TEST(DrainList, PlainNamesOnlyAndCompactHostLists) {
  EXPECT_EQ(host_list({"node017", "node002", "login2", "node001", "n10", "node003", "n9", "gpu"}),
            "login2,n[9-10],node[001-003,017],gpu");
  EXPECT_EQ(host_list({}), "");
  for (const char* plain : {"node1", "cn0007.cluster", "gpu_a-1"}) EXPECT_TRUE(plain_node_name(plain)) << plain;
  for (const char* odd : {"", "-x", "a;reboot", "$(reboot)", "n o", "x\"y", "`id`", "a\nb", "n\\1"})
    EXPECT_FALSE(plain_node_name(odd)) << odd;
}

TEST(NodeVerdict, TwoSlowRanksOnOneNodeMakeOneSlowNode) {
  FakeRun run(FOUR, 2);
  for (int m : {STREAMS, DESCRIPTORS, BYTEWISE_WRITE, BYTEWISE_READ}) run.figure("n2", m, 15);
  EXPECT_EQ(run.verdicts(), (Named{{"n2", "slow"}}));
  const Verdicts verdicts = judge_nodes(run.file);
  EXPECT_EQ(verdicts.nodes.front().ranks, (std::vector<int>{1, 5}));
  EXPECT_DOUBLE_EQ(verdicts.nodes.front().ratios[STREAMS], 0.15);
}

TEST(NodeVerdict, NodesAreComparedLikeWithLike) {
  // Three ranks that share a node each get a third of it: their nodes are
  // compared with each other, not with nodes that run one rank.
  FakeRun shared({"a", "b", "c", "d", "e", "f", "g", "e", "f", "g", "e", "f", "g"}, 1);
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    for (const char* node : {"e", "f", "g"}) shared.figure(node, m, 30);
  EXPECT_EQ(shared.verdicts(), Named{});
  // Rank 0's node has a worker fewer; slow, it is still named.
  EXPECT_EQ(FakeRun(FOUR, 2).figure("n1", STREAMS, 30).figure("n1", BYTEWISE_READ, 30).verdicts(),
            (Named{{"n1", "slow"}}));
  // With no worker on it, rank 0's own figures speak for it.
  FakeRun alone(FOUR, 1);
  for (int m : {STREAMS, BYTEWISE_WRITE}) alone.file.measurements[m].rank0_figure = 20;
  EXPECT_EQ(alone.verdicts(), (Named{{"n1", "slow"}}));
}

TEST(NodeVerdict, FailedRanksAndTooFewNodes) {
  FakeRun failed(FOUR, 2);
  failed.rank_figure(6, BLOCK_WRITE, NAN).figure("n4", STREAMS, 10).figure("n4", DESCRIPTORS, 10);
  EXPECT_EQ(failed.verdicts(), (Named{{"n3", "failed"}, {"n4", "slow"}}));
  // Two nodes: one may be half the other, but nothing says which is wrong.
  EXPECT_EQ(FakeRun({"n1", "n2"}, 1).figure("n2", STREAMS, 10).figure("n2", DESCRIPTORS, 10).verdicts(), Named{});
}

// A 3-rank report with the line that gives rank 2 up before its lines of
// `lost_in` (and NaN for it from there on), as the benchmark writes it.
std::string report_with_lost_rank(const std::string& given_up_line, MeasurementId lost_in) {
  ReportFigures figures;
  figures.ranks = 3;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    figures.single_seconds[m] = figures.single_rate[m] = 1;
    figures.workers[m] = {{1, "n2", 1, 1}, {2, "n(3)", m < lost_in ? 1 : NAN, m < lost_in ? 1 : NAN}};
  }
  std::ostringstream text;
  for_each_block(3, [&](const OutlineBlock& block) {
    if (block.kind == BlockKind::worker_figures && block.worker == 2 && block.measurement == lost_in)
      text << given_up_line << "\n";
    for (const std::string& line : report_block(block, figures).file) text << line << "\n";
  });
  return text.str();
}

TEST(ResultReader, TheLineThatGivesUpAWorker) {
  // A node name may hold parentheses and the line's own words.
  const std::string hostile = "n(3): no answer in x";
  std::istringstream in(report_with_lost_rank(
      no_answer_line(2, hostile, MEASUREMENTS[BYTEWISE_READ].name, "within 75 s of the start"), BYTEWISE_READ));
  const ResultFile file = parse_result_file(in, "lost");
  ASSERT_TRUE(file.complete);
  ASSERT_EQ(file.lost.size(), 1u);
  EXPECT_EQ(file.lost[0].rank, 2);
  EXPECT_EQ(file.lost[0].node, hostile);
  EXPECT_EQ(file.lost[0].measurement, BYTEWISE_READ);
  EXPECT_EQ(file.lost[0].why, "within 75 s of the start");
  // A node that never said which it is.
  std::istringstream unknown(report_with_lost_rank(no_answer_line(2, "", MEASUREMENTS[STREAMS].name, "x"), STREAMS));
  EXPECT_EQ(parse_result_file(unknown, "lost").lost.at(0).node, "");
  // The line for another rank or another measurement than the lines it stands before.
  for (const std::string& wrong : {no_answer_line(1, "n2", MEASUREMENTS[STREAMS].name, "x"),
                                   no_answer_line(2, "n(3)", MEASUREMENTS[DESCRIPTORS].name, "x")}) {
    std::istringstream in_wrong(report_with_lost_rank(wrong, STREAMS));
    EXPECT_THROW(parse_result_file(in_wrong, "lost"), ParseError) << wrong;
  }
  // Cut right after it: truncated, with what came before.
  const std::string whole = report_with_lost_rank(no_answer_line(2, "n3", MEASUREMENTS[STREAMS].name, "x"), STREAMS);
  std::istringstream cut(whole.substr(0, whole.find("its figures from here on are nan\n") + 33));
  const ResultFile truncated = parse_result_file(cut, "lost");
  EXPECT_FALSE(truncated.complete);
  EXPECT_EQ(truncated.lost.size(), 1u);
}

TEST(NodeVerdict, ALostRankFailsItsNodeAlone) {
  FakeRun run(FOUR, 2);
  run.figure("n4", STREAMS, 10).figure("n4", DESCRIPTORS, 10);
  const Named before = run.verdicts();
  for (int m = BYTEWISE_WRITE; m < MEASUREMENT_COUNT; ++m) run.rank_figure(2, m, NAN);
  run.file.lost.push_back({2, "n3", BYTEWISE_WRITE, "within 75 s of the start"});
  Named after = before;
  after["n3"] = "failed";
  EXPECT_EQ(run.verdicts(), after);
  const Verdicts verdicts = judge_nodes(run.file);
  EXPECT_EQ(verdicts.of("n3")->no_answer_in, BYTEWISE_WRITE);
}

TEST(ReportNumbers, OnlyTheStreamDefaultFormat) {
  double value = 0;
  for (const char* good : {"0.5", "262144", "1.23457e+06", "nan", "inf", "-nan", "8.7145e-05", "3"}) {
    EXPECT_TRUE(parse_report_number(good, value)) << good;
  }
  for (const char* bad : {"", "0.50", "262144.0", "1.234567e+06", "1e6", "0x10", "12a", " 1", "NaN"}) {
    EXPECT_FALSE(parse_report_number(bad, value)) << bad;
  }
}

TEST(ReportNumbers, AdministratorsUnitsAndExactOnes) {
  const double MiB = 1048576;
  EXPECT_EQ(rate_text(412 * MiB, "bytes/s"), "412 MiB/s");
  EXPECT_EQ(rate_text(1.73 * 1024 * MiB, "bytes/s"), "1.73 GiB/s");
  EXPECT_EQ(rate_text(1000 * MiB, "bytes/s"), "0.977 GiB/s");  // never four digits of a unit
  EXPECT_EQ(rate_text(999.4, "bytes/s"), "999 B/s");
  EXPECT_EQ(rate_text(38712, "files/s"), "38.7 k files/s");
  EXPECT_EQ(rate_text(577000, "accesses/s"), "577 k accesses/s");
  EXPECT_EQ(rate_text(950, "files/s"), "950 files/s");
  EXPECT_EQ(rate_text(99.96, "files/s"), "100 files/s");
  EXPECT_EQ(rate_text(NAN, "files/s"), "nan");
  EXPECT_EQ(count_text(1, "worker") + ", " + count_text(2, "worker"), "1 worker, 2 workers");
  for (double value : {0.1, 412345678.123, 1.0 / 3, 4.2e-7}) EXPECT_EQ(std::stod(exact_text(value)), value);
}
