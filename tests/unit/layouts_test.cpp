// Report layouts: exact lines per stream, with the differences between the
// console and the result file.
#include <gtest/gtest.h>

#include <limits>

#include "workloads/layouts.h"

using Lines = std::vector<std::string>;

TEST(FileHandlingLayout, SingleProcessLinesDifferByOneBlank) {
  const ReportBlock block = file_handling_single_lines(4.0, 32768.0);
  EXPECT_EQ(block.console,
            (Lines{"The system spent: 4 Secs.", "The system could process 32768 Files/sec.", ""}));
  EXPECT_EQ(block.file, (Lines{"The system spent: 4 Secs.", "The system could process  32768 Files/sec.", ""}));
}

TEST(FileHandlingLayout, WorkerLinesAreTheSameOnBothStreams) {
  const ReportBlock block = file_handling_worker_lines(2, "node8", 3.1, 42281.3, " Secs.");
  const Lines expected = {"Thread:2 @node8 The system spent: 3.1 Secs.",
                          "Thread:2 @node8 The system could process 42281.3 Files/sec."};
  EXPECT_EQ(block.console, expected);
  EXPECT_EQ(block.file, expected);
}

TEST(FileHandlingLayout, SummaryGivesTheConsoleOneBlankLineMore) {
  const ReportBlock block = file_handling_summary(600.0, 200.0, 200.0);
  EXPECT_EQ(block.console, (Lines{"", "Overall, The system could process: 600 Files/sec.",
                                  "Multi-Thread Improvements: 3 times.", "", "",
                                  "Among all nodes, the average process per thread was: 200 Files/sec.", ""}));
  EXPECT_EQ(block.file, (Lines{"", "Overall, The system could process: 600 Files/sec.",
                               "Multi-Thread Improvements: 3 times.", "",
                               "Among all nodes, the average process per thread was: 200 Files/sec.", ""}));
}

TEST(TransferLayout, SingleProcessFiguresInMillionsAndMegabytes) {
  const ReportBlock block = transfer_single_lines(1.0, 25165824.0, " Secs. to Read:");
  const Lines expected = {"The system spent: 1 Secs. to Read:", "It was: 25.1658 Millions Accesses/sec.",
                          "Conventionally, it was: 24 MB/sec."};
  EXPECT_EQ(block.console, expected);
  EXPECT_EQ(block.file, expected);
}

TEST(TransferLayout, WorkerRateLineSaysAccessOnTheConsoleAndAccessesInTheFile) {
  const ReportBlock block = transfer_worker_lines(2, "nodeB", 812.5, 2097152.0, " Secs. to Write.");
  EXPECT_EQ(block.console, (Lines{"Thread:2 @nodeB The system spent: 812.5 Secs. to Write.",
                                  "Thread:2 @nodeB It was: 2.09715 Millions Access/sec.",
                                  "Conventionally, it was: 2 MB/sec."}));
  EXPECT_EQ(block.file, (Lines{"Thread:2 @nodeB The system spent: 812.5 Secs. to Write.",
                               "Thread:2 @nodeB It was: 2.09715 Millions Accesses/sec.",
                               "Conventionally, it was: 2 MB/sec."}));
}

TEST(TransferLayout, ByteWiseSummary) {
  const double mb = 1048576.0;
  const ReportBlock block = transfer_summary(BYTEWISE_SUMMARY, {6 * mb, 2 * mb, 3 * mb, 4 * mb, 4 * mb, 2 * mb});
  const Lines expected = {"", "",
                          "Overall, It was: 6.29146 Millions Accesses/sec.to Write",
                          "Conventionally, total writing speed was: 6 MB/sec.",
                          "Multi-Thread Improvements: 3 times.",
                          "Overall, It was: 4.1943 Millions Accesses/sec.to Read",
                          "Conventionally, total reading speed was: 4 MB/sec.",
                          "Multi-Thread Improvements: 1 times.",
                          "",
                          "Among all nodes, the average low writing process per thread was: 3 MB/sec.",
                          "Among all nodes, the average low reading process per thread was: 2  MB/sec.",
                          "", ""};
  EXPECT_EQ(block.console, expected);
  EXPECT_EQ(block.file, expected);
}

TEST(TransferLayout, BlockSummaryOfThreeWorkers) {
  // Workers read at 1, 2 and 3 MiB/s: the read total shows 6, the average 2.
  const double mb = 1048576.0;
  const ReportBlock block =
      transfer_summary(BLOCK_SUMMARY, {3 * mb, 1 * mb, 1 * mb, 6 * mb, 3 * mb, 2 * mb});
  const Lines expected = {"",
                          "Overall, It was: 3.14573 Millions Accesses/sec.to Write",
                          "Conventionally, total writing speed was: 3 MB/sec.",
                          "Multi-Thread Improvements: 3 times.",
                          "Overall, It was: 6.29146 Millions Accesses/sec.to Read",
                          "Conventionally, total reading speed was: 6 MB/sec.",
                          "Multi-Thread Improvements: 2 times.",
                          "",
                          "Among all nodes, the average high writing process per thread was: 1  MB/sec.",
                          "Among all nodes, the average high reading process per thread was: 2  MB/sec."};
  EXPECT_EQ(block.console, expected);
  EXPECT_EQ(block.file, expected);
}

TEST(TransferLayout, FailedFiguresPrintAsNan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const ReportBlock block = transfer_single_lines(0.25, nan, " Secs. to Write.");
  EXPECT_EQ(block.console, (Lines{"The system spent: 0.25 Secs. to Write.", "It was: nan Millions Accesses/sec.",
                                  "Conventionally, it was: nan MB/sec."}));
}

TEST(Headings, MultiRankHeadingAndTitles) {
  EXPECT_EQ(multi_rank_heading(BLOCK_HEADING).console,
            (Lines{"Multi-Thread Enabled:", "High writing and reading speeds:", ""}));
  const ReportBlock title = title_block("Power of Handling Files -- Hihger", "Power of Handling Files -- Higher");
  EXPECT_EQ(title.console, (Lines{"Power of Handling Files -- Hihger", ""}));
  EXPECT_EQ(title.file, (Lines{"Power of Handling Files -- Higher", ""}));
}
