// stelvane-report: falls that several nodes share, named as one, and the
// whole cluster against its kept runs; a fleet that grows.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fleet_runs.h"
#include "judging/history.h"
#include "judging/verdict.h"
#include "writing/drain.h"
#include "writing/wording.h"

namespace {

std::string node_name(int i) { return std::string(i < 10 ? "n0" : "n") + std::to_string(i); }

// A site's history: 12 quiet runs of this fleet, kept in time order.
class KeptRuns {
 public:
  // `absent` is down in every other run.
  explicit KeptRuns(const std::vector<double>& fleet, int absent = -1) : absent_(absent) {
    for (unsigned day = 0; day < 12; ++day) {
      const ResultFile file = fleet_run(fleet, 100 + day, day % 2 ? absent : -1);
      history_.push_back(summarize(file, judge_nodes(file)));
      history_.back().stamp.time_stamp = "2026-11-" + std::to_string(10 + day) + "T01:00:00";
    }
  }
  // The next run of `fleet`, judged against the runs kept so far, then kept.
  const JudgedRun& judge(const std::vector<double>& fleet) {
    files_.push_back(fleet_run(fleet, 200 + static_cast<unsigned>(files_.size()), files_.size() % 2 ? absent_ : -1));
    ResultFile& file = files_.back();
    file.stamp.time_stamp = "2026-12-" + std::to_string(10 + files_.size()) + "T01:00:00";
    std::vector<JudgedRun> judged = {{&file, judge_nodes(file)}};
    judge_against_history(judged, history_);
    history_.push_back(summarize(file, judged[0].verdicts));
    last_ = std::move(judged[0]);
    return last_;
  }

 private:
  int absent_;
  std::vector<RunSummary> history_;
  std::vector<ResultFile> files_ = std::vector<ResultFile>();
  JudgedRun last_;
};

std::vector<double> slowed(std::vector<double> fleet, int first, int count, double factor) {
  for (int i = first; i < first + count; ++i) fleet[i] *= factor;
  return fleet;
}

std::set<std::string> slow_nodes(const Verdicts& verdicts) {
  const std::vector<std::string> names = verdicts.named(Verdict::slow);
  return {names.begin(), names.end()};
}

std::set<std::string> names(int first, int count) {
  std::set<std::string> range;
  for (int i = first; i < first + count; ++i) range.insert(node_name(i));
  return range;
}

}  // namespace

// Six nodes of one kind at 0.6 of their speed in every measurement: one
// kind still (no seen kind of their own), one fall, named with its cause,
// every node of it slow and drained in that very run, and no other.
TEST(SharedFall, ARackOfOneKindIsNamedAsOneAndDrainedInItsFirstRun) {
  const std::vector<double> fleet(64, 1.0);
  KeptRuns kept(fleet);
  const Verdicts& verdicts = kept.judge(slowed(fleet, 20, 6, 0.6)).verdicts;
  EXPECT_TRUE(verdicts.groups.empty());
  ASSERT_EQ(verdicts.falls.size(), 1u);
  const SharedFall& fall = verdicts.falls[0];
  EXPECT_EQ(std::set<std::string>(fall.nodes.begin(), fall.nodes.end()), names(20, 6));
  EXPECT_TRUE(fall.everywhere);
  EXPECT_EQ(fall.cause, Cause::cpu);
  EXPECT_EQ(shared_fall_text(fall),
            "6 nodes fell together, n[20-25], 0.60 of their own normal in every measurement; probably CPU or "
            "system-call cost");
  EXPECT_EQ(slow_nodes(verdicts), names(20, 6));
  EXPECT_EQ(drain_host_list(verdicts), "n[20-25]");
  EXPECT_TRUE(cluster_fall_text(verdicts).empty());
}

// A fall of 0.85 is under the peer line's reach (never above 0.8) but not
// under the nodes' own lines: four nodes alike make a fall in their first
// run; three are three nodes, each suspect until a second run shows it.
TEST(SharedFall, FourNodesAlikeAreAFallThreeAreNot) {
  const std::vector<double> fleet(64, 1.0);
  KeptRuns four(fleet), three(fleet);
  EXPECT_EQ(slow_nodes(four.judge(slowed(fleet, 40, 4, 0.85)).verdicts), names(40, 4));
  const Verdicts& verdicts = three.judge(slowed(fleet, 40, 3, 0.85)).verdicts;
  EXPECT_TRUE(verdicts.falls.empty());
  EXPECT_TRUE(slow_nodes(verdicts).empty());
  for (const std::string& name : names(40, 3)) EXPECT_EQ(verdicts.of(name)->verdict, Verdict::suspect) << name;
}

// Two racks that fell by different factors are two falls, not one.
TEST(SharedFall, RacksThatFellApartAreNamedApart) {
  const std::vector<double> fleet(64, 1.0);
  KeptRuns kept(fleet);
  const Verdicts& verdicts = kept.judge(slowed(slowed(fleet, 10, 4, 0.6), 30, 5, 0.85)).verdicts;
  ASSERT_EQ(verdicts.falls.size(), 2u);
  EXPECT_EQ(verdicts.falls[0].nodes.size() + verdicts.falls[1].nodes.size(), 9u);
  EXPECT_EQ(slow_nodes(verdicts).size(), 9u);
}

// Half the nodes fall: the median node falls with them, so each node is held
// against the nodes that kept their usual figures; the half that fell is
// named, the other half is not, and the cluster as a whole is not named.
TEST(SharedFall, HalfTheFleetFallsAndTheOtherHalfIsTheReference) {
  for (int count : {8, 64}) {
    const std::vector<double> fleet(count, 1.0);
    KeptRuns kept(fleet);
    const Verdicts& verdicts = kept.judge(slowed(fleet, count / 2, count / 2, 0.5)).verdicts;
    EXPECT_EQ(slow_nodes(verdicts), names(count / 2, count / 2)) << count;
    EXPECT_EQ(verdicts.falls.size(), 1u) << count;
    EXPECT_TRUE(cluster_fall_text(verdicts).empty()) << count;
  }
  // The same while every node runs at 0.93 of its kept runs: the half that
  // kept its level against the cluster is at its normal, not 7 % below.
  {
    const std::vector<double> fleet(64, 1.0);
    KeptRuns kept(fleet);
    std::vector<double> shifted = slowed(fleet, 32, 32, 0.5);
    for (double& speed : shifted) speed *= 0.93;
    EXPECT_EQ(slow_nodes(kept.judge(shifted).verdicts), names(32, 32));
  }
  // Five of eight: the three that kept their figures, and rank 0's node,
  // are fewer than half but a quarter and more: still the reference.
  const std::vector<double> fleet(8, 1.0);
  KeptRuns kept(fleet);
  EXPECT_EQ(slow_nodes(kept.judge(slowed(fleet, 3, 5, 0.5)).verdicts), names(3, 5));
}

// Half the nodes get faster (a firmware fix on half the racks): the other
// half kept its figures, is behind, and has not fallen.
TEST(SharedFall, HalfTheFleetGetsFasterAndTheOtherHalfHasNotFallen) {
  const std::vector<double> fleet(64, 1.0);
  KeptRuns kept(fleet);
  const Verdicts& verdicts = kept.judge(slowed(fleet, 0, 32, 1.3)).verdicts;
  EXPECT_TRUE(verdicts.falls.empty());
  EXPECT_TRUE(slow_nodes(verdicts).empty());
  // Most of the fleet faster (52 of 64): the twelve left are too few to be
  // the reference, and lie at 0.77 of the rest, under their own lines; yet
  // their figures did not fall, so their own normals do not name them (their
  // peers may: they are behind).
  KeptRuns most(fleet);
  const Verdicts& behind = most.judge(slowed(fleet, 0, 52, 1.3)).verdicts;
  EXPECT_TRUE(behind.falls.empty());
  for (const std::string& name : names(52, 12)) EXPECT_EQ(behind.of(name)->by_own_normal, Verdict::ok) << name;
  // A rack that falls meanwhile is named, at its own fall: the faster half
  // is no reference for the nodes that kept their figures.
  const Verdicts& racked = kept.judge(slowed(slowed(fleet, 0, 32, 1.3), 40, 6, 0.6)).verdicts;
  EXPECT_EQ(slow_nodes(racked), names(40, 6));
  ASSERT_EQ(racked.falls.size(), 1u);
  EXPECT_NEAR(racked.falls[0].fell_to, 0.6, 0.03);
}

// In a fleet of two learned kinds (70/30 at 0.6): a rack in the older kind
// falls, then the whole older kind falls to 0.85 of itself, which keeps
// every node's ratio within the kind; the newer kind is never named.
TEST(SharedFall, InTheOlderKindAndTheWholeOlderKind) {
  const std::vector<double> fleet = kinds(64, 0.7, 0.6);
  KeptRuns rack(fleet), kind(fleet);
  const Verdicts& racked = rack.judge(slowed(fleet, 50, 4, 0.6)).verdicts;
  ASSERT_EQ(racked.groups.size(), 2u);
  EXPECT_EQ(racked.groups[1].group.source, GroupSource::learned);
  EXPECT_EQ(slow_nodes(racked), names(50, 4));
  ASSERT_EQ(racked.falls.size(), 1u);
  EXPECT_EQ(shared_fall_text(racked.falls[0]),
            "4 nodes fell together, n[50-53] (4 of kind 2's 19 nodes), 0.60 of their own normal in every "
            "measurement; probably CPU or system-call cost");

  const std::vector<double> older_fell = slowed(fleet, 45, 19, 0.85);
  std::set<std::string> named;
  for (int run = 0; run < 3; ++run) {
    const Verdicts& verdicts = kind.judge(older_fell).verdicts;
    const std::set<std::string> slow = slow_nodes(verdicts);
    for (const std::string& name : slow) EXPECT_GE(name, "n45") << "run " << run;
    if (run == 0) {
      ASSERT_EQ(verdicts.falls.size(), 1u);
      EXPECT_EQ(verdicts.falls[0].group, "kind 2");
    }
    named.insert(slow.begin(), slow.end());
  }
  EXPECT_EQ(named, names(45, 19));
}

// Two kinds half and half, one node of the faster kind down in every other
// run: the median of the whole fleet lies in one kind or the other as the
// node is there or not, for every node at once. No healthy node is named, in
// three runs; a node at 0.85 is.
TEST(SharedFall, TwoKindsHalfAndHalfNameNoHealthyNode) {
  const std::vector<double> fleet = kinds(64, 0.5, 0.6);
  KeptRuns kept(fleet, 5);
  std::set<std::string> named;
  for (int run = 0; run < 3; ++run) {
    const Verdicts& verdicts = kept.judge(slowed(fleet, 40, 1, 0.85)).verdicts;
    for (const std::string& name : slow_nodes(verdicts)) EXPECT_EQ(name, "n40") << "run " << run;
    EXPECT_TRUE(verdicts.falls.empty()) << "run " << run;
    const std::set<std::string> slow = slow_nodes(verdicts);
    named.insert(slow.begin(), slow.end());
  }
  EXPECT_EQ(named, names(40, 1));
}

// Every node at 0.8 of its kept runs: no node is worse than the others, so
// none is named, but the cluster's change is, in every measurement.
TEST(ClusterChange, TheWholeClusterFallsAndNoNodeIsNamed) {
  const std::vector<double> fleet = kinds(64, 0.7, 0.6);
  KeptRuns kept(fleet);
  std::vector<double> fell = fleet;
  for (double& speed : fell) speed *= 0.8;
  const Verdicts& verdicts = kept.judge(fell).verdicts;
  EXPECT_TRUE(slow_nodes(verdicts).empty());
  EXPECT_TRUE(verdicts.falls.empty());
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    EXPECT_NEAR(verdicts.cluster.change[m], 0.8, 0.02) << m;
    EXPECT_TRUE(verdicts.cluster.low[m]) << m;
    EXPECT_EQ(verdicts.cluster.runs[m], 12) << m;
  }
  EXPECT_EQ(cluster_fall_text(verdicts),
            "the whole cluster runs at 0.80 of its kept runs in every measurement: a change common to every node "
            "\u2014 a kernel, firmware or setting");
  // The next run, at the kept runs' level again in all but block write.
  std::vector<double> back = fleet;
  const Verdicts& again = kept.judge(back).verdicts;
  EXPECT_TRUE(again.cluster.low_in().empty());
  EXPECT_TRUE(cluster_fall_text(again).empty());
}

// New nodes with no kept runs join 64 known ones: slower, alike or faster,
// 16 of them or as many again. No node is named slow for the cluster's
// median having moved (a known node's one measurement may stray below its
// own line by chance, suspect at most); new nodes unlike the known ones are a group of their
// own, apart and never drained; alike, they join the known kind.
TEST(GrownFleet, NewNodesMoveNoKnownNode) {
  for (int added : {16, 64})
    for (double speed : {0.6, 1.0, 1.15, 1.7}) {
      const std::vector<double> fleet(64, 1.0);
      KeptRuns kept(fleet);
      std::vector<double> grown = fleet;
      grown.resize(64 + added, speed);
      const Verdicts& verdicts = kept.judge(grown).verdicts;
      const std::string trial = std::to_string(added) + " at " + std::to_string(speed);
      EXPECT_TRUE(slow_nodes(verdicts).empty()) << trial;
      EXPECT_TRUE(cluster_fall_text(verdicts).empty()) << trial;
      if (speed == 1.0 || speed == 1.15) {  // alike, or too close to be a kind: they join it
        EXPECT_TRUE(verdicts.groups.empty()) << trial;
        continue;
      }
      ASSERT_EQ(verdicts.groups.size(), 2u) << trial;
      const GroupReport& added_group = verdicts.groups[1].group.name == "new kind 1" ? verdicts.groups[1] : verdicts.groups[0];
      EXPECT_EQ(added_group.group.name, "new kind 1") << trial;
      EXPECT_EQ(added_group.nodes.size(), static_cast<std::size_t>(added)) << trial;
    }
}
