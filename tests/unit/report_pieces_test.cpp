// stelvane-report: the small pure pieces the outputs and the history rest on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include "reading/history_index.h"
#include "writing/prometheus.h"

TEST(PrometheusLabels, EscapedAndValidUtf8ForAnyName) {
  EXPECT_EQ(label_value("node17"), "node17");
  EXPECT_EQ(label_value("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
  EXPECT_EQ(label_value("gr\xc3\xbcn"), "gr\xc3\xbcn");  // UTF-8 stays as it is
  // Bytes that are no UTF-8 (a byte no sequence begins with, a cut sequence,
  // an overlong one, a surrogate) become text, which a collector takes.
  EXPECT_EQ(label_value("a\xff"), "a\\\\xff");
  EXPECT_EQ(label_value("a\xc3"), "a\\\\xc3");
  EXPECT_EQ(label_value("\xc0\xaf"), "\\\\xc0\\\\xaf");
  EXPECT_EQ(label_value("\xed\xa0\x80"), "\\\\xed\\\\xa0\\\\x80");
  EXPECT_EQ(label_value("\xf4\x8f\xbf\xbf"), "\xf4\x8f\xbf\xbf");  // U+10FFFF, the last there is
  EXPECT_NE(label_value("a\xfe"), label_value("a\xff"));
}

TEST(PrometheusLabels, TheRunsStartFromItsStamp) {
  EXPECT_DOUBLE_EQ(run_start_seconds({"2026-12-07T01:17:13", "UTC", "n1"}), 1796606233.0);
  EXPECT_TRUE(std::isnan(run_start_seconds({"2026-12-07T01:17:13", "XYZT", "n1"})));  // a zone nobody here knows
  EXPECT_TRUE(std::isnan(run_start_seconds({"", "UTC", "n1"})));
  EXPECT_TRUE(std::isnan(run_start_seconds({"2026-12-07T01:17", "UTC", "n1"})));
}

TEST(HistoryIndex, WhatIsWrittenIsReadBackAndAnotherRuleStartsAnew) {
  char folder[] = "/tmp/stelvane-index-test.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/index.sqlite";
  std::string why;
  IndexedFile good, bad;
  good.name = std::string("results @ UTC \x01 name");  // file names are bytes
  good.size = 1234;
  good.mtime_ns = 1765000000123456789LL;
  good.run.judged[STREAMS] = good.run.judged[BLOCK_READ] = true;
  RunSummary::Node& node = good.run.nodes.emplace_back();
  node = {"cn0007", 2, Verdict::slow, {0.5, NAN, 1.0, 1.25, 0.75, NAN}};
  bad.name = "stopped.txt";
  bad.problem = "stopped.txt stops part way";
  {
    auto index = HistoryIndex::open(path, "rule 1", false, why);
    ASSERT_TRUE(index) << why;
    ASSERT_TRUE(index->update({good, bad}, {}, why)) << why;
  }
  auto index = HistoryIndex::open(path, "rule 1", false, why);
  std::vector<IndexedFile> entries;
  ASSERT_TRUE(index->entries(entries));
  ASSERT_EQ(entries.size(), 2u);
  const IndexedFile& read = entries[0].name == good.name ? entries[0] : entries[1];
  EXPECT_EQ(std::make_pair(read.size, read.mtime_ns), std::make_pair(good.size, good.mtime_ns));
  EXPECT_EQ(read.run.judged[STREAMS] + read.run.judged[BLOCK_READ] + read.run.judged[DESCRIPTORS], 2);
  ASSERT_EQ(read.run.nodes.size(), 1u);
  EXPECT_EQ(std::make_pair(read.run.nodes[0].name, read.run.nodes[0].workers), std::make_pair(std::string("cn0007"), 2));
  EXPECT_EQ(read.run.nodes[0].verdict, Verdict::slow);
  for (int m = 0; m < MEASUREMENT_COUNT; ++m)
    EXPECT_TRUE(read.run.nodes[0].ratios[m] == node.ratios[m] || (std::isnan(read.run.nodes[0].ratios[m]) &&
                                                                   std::isnan(node.ratios[m])))
        << m;
  EXPECT_EQ(entries[0].name == bad.name ? entries[0].problem : entries[1].problem, bad.problem);
  // An entry dropped is gone; summaries made under another rule are not read.
  ASSERT_TRUE(index->update({}, {bad.name}, why));
  ASSERT_TRUE(index->entries(entries = {}));
  EXPECT_EQ(entries.size(), 1u);
  index.reset();
  index = HistoryIndex::open(path, "rule 2", false, why);
  ASSERT_TRUE(index->entries(entries = {}));
  EXPECT_TRUE(entries.empty());
  std::system(("rm -rf " + std::string(folder)).c_str());
}
