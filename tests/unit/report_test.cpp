// Number format, result-file name and path, banner.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "report.h"

TEST(LineFormat, NumbersUseTheStreamDefaultFormat) {
  EXPECT_EQ(line(0.5), "0.5");
  EXPECT_EQ(line(262144.0), "262144");
  EXPECT_EQ(line(1234567.0), "1.23457e+06");
  EXPECT_EQ(line(0.0001), "0.0001");
  EXPECT_EQ(line(0.00001234), "1.234e-05");
  EXPECT_EQ(line(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(line(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(line("Thread:", 12, " @", "node7"), "Thread:12 @node7");
}

TEST(ResultFileName, DropsTheNewlineOfTheTimeStamp) {
  const std::string name = result_file_name("CET", "Sun Dec  6 21:06:11 2026\n", "node-a");
  EXPECT_EQ(name, "results_stelvane_lite_netbsd_sparc64_clusters @ CET time Sun Dec  6 21:06:11 2026 @ node-a.txt");
  EXPECT_EQ(name.find('\n'), std::string::npos);
}

TEST(ResultFilePath, JoinsTheWorkingDirectoryOrFallsBackToTheBareName) {
  EXPECT_EQ(result_file_path("/scratch/run", "r.txt"), "/scratch/run/r.txt");
  EXPECT_EQ(result_file_path(nullptr, "r.txt"), "r.txt");
  EXPECT_EQ(result_file_path("", "r.txt"), "r.txt");
  const std::string deep(3000, 'd');  // longer than any fixed path buffer
  EXPECT_EQ(result_file_path(("/" + deep).c_str(), "r.txt"), "/" + deep + "/r.txt");
}

TEST(Banner, ConsoleAndFileFormsDiffer) {
  const ReportBlock block = banner(4);
  const std::string product =
      "Vantrel :: Corvada Benchmark Stelvane Lite for NetBSD Clusters on Sparc 64bit system 2022.02.17.";
  ASSERT_EQ(block.console.size(), 9u);
  EXPECT_EQ(block.console[0], "");
  EXPECT_EQ(block.console[1], product);
  EXPECT_FALSE(block.console[2].empty());
  EXPECT_EQ(block.console[3].rfind("For Support: ", 0), 0u);
  EXPECT_EQ(block.console[7], "Thread(s): 4");
  EXPECT_EQ(block.file, (std::vector<std::string>{product, "", "Thread(s): 4", ""}));
}
