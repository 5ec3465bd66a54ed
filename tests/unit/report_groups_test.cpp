// stelvane-report: nodes judged within groups of alike nodes, declared, seen
// in one run or learned from the kept runs.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include "judging/history.h"
#include "judging/verdict.h"
#include "reading/group_file.h"
#include "reading/result_reader.h"
#include "fleet_runs.h"

namespace {

std::map<std::string, std::string> named(const Verdicts& verdicts) {
  std::map<std::string, std::string> names;
  for (const NodeVerdict& node : verdicts.nodes)
    if (node.verdict != Verdict::ok) names[node.node] = verdict_name(node.verdict);
  return names;
}

std::vector<std::size_t> group_sizes(const Verdicts& verdicts) {
  std::vector<std::size_t> sizes;
  for (const GroupReport& group : verdicts.groups) sizes.push_back(group.nodes.size());
  return sizes;
}

}  // namespace

TEST(Groups, OneKindIsOneGroupAndItsSlowNodesStaySlow) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::vector<double> speed = kinds(64, 2, 1);
    speed[7] = 0.5;
    speed[8] = 0.6;
    const Verdicts verdicts = judge_nodes(fleet_run(speed, seed));
    EXPECT_TRUE(verdicts.groups.empty()) << seed;  // two slow nodes are no kind of their own
    EXPECT_EQ(named(verdicts), (std::map<std::string, std::string>{{"n07", "slow"}, {"n08", "slow"}})) << seed;
  }
}

TEST(Groups, KindsSeenInOneRunAreJudgedApartAndNeverDrainedWhole) {
  // 70/30 at 0.6, 80/20 at 0.75, 50/50 at 0.6 and three kinds: no node named.
  const std::vector<std::pair<std::vector<double>, std::vector<std::size_t>>> fleets = {
      {kinds(64, 0.7, 0.6), {46, 19}}, {kinds(64, 0.8, 0.75), {53, 12}},
      {kinds(64, 0.5, 0.6), {33, 32}}, {kinds(63, 1 / 3.0, 0.8, 2 / 3.0, 0.6), {22, 21, 21}}};  // rank 0's node too
  for (const auto& [speed, sizes] : fleets) {
    const Verdicts verdicts = judge_nodes(fleet_run(speed, 3));
    EXPECT_EQ(group_sizes(verdicts), sizes);
    EXPECT_TRUE(named(verdicts).empty());
    int apart = 0;
    for (const GroupReport& group : verdicts.groups) {
      apart += group.apart;
      EXPECT_EQ(group.group.source, GroupSource::seen);
    }
    EXPECT_EQ(apart, static_cast<int>(sizes.size()) - 1);
  }
  // A slow node is found within its own kind, in either kind (a node of the
  // fast kind at 0.5 would pass for one of the other).
  std::vector<double> speed = kinds(64, 0.7, 0.6);
  speed[3] *= 0.4;
  speed[60] *= 0.5;
  EXPECT_EQ(named(judge_nodes(fleet_run(speed, 4))),
            (std::map<std::string, std::string>{{"n03", "slow"}, {"n60", "slow"}}));
}

TEST(Groups, ARackOfFourStandsApartAndAnInBetweenNodeIsOnlySuspect) {
  // Four nodes alike and far below the rest: too many to be chance, a
  // group apart (named with its nodes, not drained).
  const Verdicts rack = judge_nodes(fleet_run(kinds(64, 60 / 64.0, 0.6), 5));
  ASSERT_EQ(group_sizes(rack), (std::vector<std::size_t>{61, 4}));
  EXPECT_TRUE(rack.groups[1].apart);
  EXPECT_TRUE(named(rack).empty());
  // Three are not.
  EXPECT_TRUE(judge_nodes(fleet_run(kinds(64, 61 / 64.0, 0.6), 5)).groups.empty());
  // 50/50 at 0.6 with a node of the fast kind at 0.7: it lies between the
  // kinds, which one run cannot tell apart: suspect, no cause.
  std::vector<double> speed = kinds(64, 0.5, 0.6);
  speed[10] = 0.7;
  const Verdicts between = judge_nodes(fleet_run(speed, 6));
  EXPECT_EQ(named(between), (std::map<std::string, std::string>{{"n10", "suspect"}}));
  EXPECT_TRUE(between.of("n10")->between_kinds);
  EXPECT_EQ(between.of("n10")->cause.cause, Cause::none);
}

TEST(Groups, DeclaredGroupsJudgeTheirOwnAndSayWhenTooSmall) {
  std::vector<double> speed = kinds(64, 0.5, 0.6);
  speed[10] = 0.7;
  const std::vector<DeclaredGroup> declared = {{"gen3", {}}, {"gen2", {}}, {"gpu", {"n62", "n63", "nowhere"}}};
  std::vector<DeclaredGroup> groups = declared;
  for (int i = 0; i < 62; ++i) groups[i < 32 ? 0 : 1].nodes.push_back(std::string(i < 10 ? "n0" : "n") + std::to_string(i));
  const Verdicts verdicts = judge_nodes(fleet_run(speed, 6), &groups);
  EXPECT_EQ(named(verdicts), (std::map<std::string, std::string>{{"n10", "slow"}}));
  ASSERT_EQ(group_sizes(verdicts), (std::vector<std::size_t>{32, 30, 2}));
  EXPECT_TRUE(verdicts.groups[2].too_small);
  EXPECT_TRUE(std::isnan(verdicts.of("n63")->ratios[STREAMS]));
  EXPECT_NEAR(verdicts.groups[1].to_largest[STREAMS], 0.6, 0.02);
  EXPECT_FALSE(verdicts.groups[1].apart);  // declared: never apart
  // A node in no declared group is compared with every node, as without groups.
  groups[1].nodes.pop_back();
  EXPECT_EQ(judge_nodes(fleet_run(speed, 6), &groups).of("n61")->group, -1);
}

TEST(GroupFile, HostListsCommentsAndClearErrors) {
  std::istringstream good("# the site's kinds\ngen3 node[0001-0003],gpu[01-02]  # newest\n\ngen2 old[8-10]x,login1\n");
  const std::vector<DeclaredGroup> groups = parse_group_file(good, "groups.txt");
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].nodes, (std::vector<std::string>{"node0001", "node0002", "node0003", "gpu01", "gpu02"}));
  EXPECT_EQ(groups[1].nodes, (std::vector<std::string>{"old8x", "old9x", "old10x", "login1"}));
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"gen3\n", "groups.txt:1: expected a group name"},
      {"gen3 a[1-2] b\n", "more than two words"},
      {"gen3 a[3-1]\n", "\"3-1\" is not a range"},
      {"gen3 a[1-2\n", "without its \"]\""},
      {"gen3 a[1-2]\ngen2 a2\n", "groups.txt:2: node a2 is in group gen2 and already in gen3 (line 1)"},
      {"gen3 a1\ngen3 a2\n", "groups.txt:2: group gen3 is named twice"},
      {"big x[1-999999999]\n", "more than a million names"}};
  for (const auto& [text, message] : bad) {
    std::istringstream in(text);
    try {
      parse_group_file(in, "groups.txt");
      ADD_FAILURE() << text;
    } catch (const ParseError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
}

TEST(GroupFile, SlurmNodesByTheirActiveFeatures) {
  std::istringstream shown(
      "NodeName=node1 Arch=x86_64 CoresPerSocket=1\n   AvailableFeatures=gen3\n   ActiveFeatures=gen3\n\n"
      "NodeName=node2 Arch=x86_64 AvailableFeatures=gen2,ib ActiveFeatures=gen2,ib State=IDLE\n"
      "NodeName=node3 Arch=x86_64\n   AvailableFeatures=(null)\n   ActiveFeatures=(null)\n"
      "NodeName=node4 ActiveFeatures=gen3\n");
  const std::vector<DeclaredGroup> groups = parse_slurm_nodes(shown, "nodes.txt");
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].name, "gen3");
  EXPECT_EQ(groups[0].nodes, (std::vector<std::string>{"node1", "node4"}));
  EXPECT_EQ(groups[1].name, "gen2,ib");
  std::istringstream nothing("slurm_load_node error: Unable to contact slurm controller\n");
  EXPECT_THROW(parse_slurm_nodes(nothing, "nodes.txt"), ParseError);
}

TEST(Groups, AMixedFleetsHistoryLearnsItsKindsAndLocksNoNodeOut) {
  // 12 earlier runs of 70/30 at 0.6, then n05 (fast kind) and n60 (older
  // kind) at 0.85 of their own speed for three runs.
  const std::vector<double> fleet = kinds(64, 0.7, 0.6);
  std::vector<RunSummary> history;
  for (unsigned day = 0; day < 12; ++day) {
    const ResultFile file = fleet_run(fleet, 100 + day);
    history.push_back(summarize(file, judge_nodes(file)));
    history.back().stamp.time_stamp = "2026-12-" + std::to_string(10 + day) + "T01:00:00";
  }
  std::vector<double> changed = fleet;
  changed[5] *= 0.85;
  changed[60] *= 0.85;
  std::map<std::string, std::string> last;
  for (unsigned day = 0; day < 3; ++day) {
    ResultFile file = fleet_run(changed, 200 + day);
    file.stamp.time_stamp = "2026-12-" + std::to_string(22 + day) + "T01:00:00";
    std::vector<JudgedRun> judged = {{&file, judge_nodes(file)}};
    judge_against_history(judged, history);
    ASSERT_EQ(judged[0].verdicts.groups.size(), 2u);
    EXPECT_EQ(judged[0].verdicts.groups[0].group.source, GroupSource::learned);
    for (const NodeVerdict& node : judged[0].verdicts.nodes)
      if (node.node != "n05" && node.node != "n60") {
        EXPECT_NE(node.verdict, Verdict::slow) << node.node;
      }
    EXPECT_TRUE(judged[0].verdicts.of("n60")->own.known_anywhere());  // the older kind has a normal
    last = named(judged[0].verdicts);
    history.push_back(summarize(file, judged[0].verdicts));
  }
  EXPECT_EQ(last.at("n05"), "slow");
  EXPECT_EQ(last.at("n60"), "slow");
}
