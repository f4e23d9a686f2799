// summary_test.cpp - a whole run against a fixture machine: the report opens
// with the system summary, then the operating system table.
#include "zvtest.h"

#include "report_rows.h"

TEST(SummaryE2E, ReportOpensWithTheSystemSummaryThenTheOperatingSystem) {
  zvtest::fixture_root root;
  root.add("/etc/redhat-release", "Red Hat Linux release 9 (Shrike)\n");
  root.add("/proc/sys/kernel/hostname", "captured-host\n");
  root.add("/proc/sys/kernel/osrelease", "2.4.20-8\n");
  zvtest::temp_dir cwd;
  zvtest::run_result r = zvtest::run({"-batch", "-local", "-level", "1", "-sysroot", root.path()}, cwd.path());
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("SYSTEM SUMMARY"), std::string::npos) << r.err;
  std::string report;
  for (const std::string& name : zvtest::list_dir(cwd.path())) {
    std::string text = zvtest::read_file(cwd.file(name));
    if (text.find("<TABLE ID=") != std::string::npos) report = text;
  }
  ASSERT_FALSE(report.empty()) << "no report file written";
  // The first two tables, in this order.
  size_t first = report.find("<TABLE ID=\""), second = report.find("<TABLE ID=\"", first + 1);
  ASSERT_NE(second, std::string::npos) << report;
  const std::string summary = "<TABLE ID=\"System Summary\"", os = "<TABLE ID=\"Operating System\"";
  EXPECT_EQ(report.substr(first, summary.size()), summary);
  EXPECT_EQ(report.substr(second, os.size()), os);
  EXPECT_NE(report.find(">Red Hat Linux release 9 (Shrike)<"), std::string::npos);
  // The captured machine's kernel and host name, never this machine's.
  EXPECT_NE(report.find(">captured-host<"), std::string::npos);
  EXPECT_NE(report.find(">2.4.20-8 Unknown<"), std::string::npos);
  // Without os-release there is no release table.
  EXPECT_EQ(report.find("Operating System Release"), std::string::npos);
}

// A current system's os-release: its fields, unquoted and whole, in the
// "Operating System Release" table after the two summary tables.
TEST(SummaryE2E, OsReleaseFieldsFormTheirOwnTable) {
  zvtest::fixture_root root;
  root.add("/etc/debian_version", "12.5\n");
  root.add("/etc/os-release",
           "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
           "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\n"
           "VERSION_CODENAME=bookworm\nID=debian\nHOME_URL=\"https://www.example.org/\"\n");
  zvtest::temp_dir cwd;
  zvtest::run_result r = zvtest::run({"-batch", "-stdout", "-probe", "SYSTEM_SUMMARY", "-sysroot", root.path()},
                                     cwd.path());
  ASSERT_TRUE(r.exited) << r.err;
  zvtest::table_rows tables = zvtest::report_rows(r.out);
  ASSERT_EQ(tables["Operating System Release"].size(), 1u) << r.out;
  EXPECT_EQ(tables["Operating System Release"][0],
            "\tDebian GNU/Linux\t12 (bookworm)\tdebian\t12\tbookworm\tDebian GNU/Linux 12 (bookworm)");
  EXPECT_LT(r.out.find("\"Operating System\""), r.out.find("\"Operating System Release\""));
}
