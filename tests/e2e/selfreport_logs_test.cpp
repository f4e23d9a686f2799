// selfreport_logs_test.cpp - a run under a fixture root: the run's own
// account (arguments, probe states) and the system logs embedded whole and
// well-formed, newest lines last, without waiting on a FIFO in place of a log.
#include "zvtest.h"
#include <sys/time.h>

#include "report_check.h"

namespace {

/// The text embedded under a file record titled `title` ("<none>" when absent).
std::string record(const std::string& report, const std::string& title) {
  size_t at = report.find("<FILE ID=\"" + title + "\">");
  if (at == std::string::npos) return "<none>";
  size_t begin = report.find("<![CDATA[", at) + 9, end = report.find("]]>\r\n", begin);
  std::string text = report.substr(begin, end - begin);
  // A "]]>" of the file is split across two character-data blocks.
  for (size_t split; (split = text.find("]]><![CDATA[")) != std::string::npos;) text.erase(split, 12);
  return text;
}

void set_mtime(const std::string& path, time_t when) {
  struct timeval times[2] = {{when, 0}, {when, 0}};
  utimes(path.c_str(), times);
}

}  // namespace

TEST(SelfReportAndLogsE2E, RunAccountAndLogTailsAreEmbeddedWellFormed) {
  zvtest::fixture_root root;
  std::string current;
  for (int i = 1; i <= 600; ++i) current += "Dec  7 host app[1]: line " + std::to_string(i) + "\n";
  current += "Dec  7 host kernel: <b>&amp; \xff\xfe ]]> end\n";
  root.add("/var/log/messages", current)
      .add("/var/log/messages.1", "Nov 30 host kernel: rotated once\n")
      .add("/var/log/messages.2.gz", "Nov 23 host kernel: rotated twice\n")
      .add("/var/log/boot.log", "Starting services <ok>\n")
      .add("/etc/sysconfig/i18n", "LANG=\"C.UTF-8\"\n")
      .add("/etc/X11/xorg.conf", "Section \"Device\"\n  Identifier \"Card0\"\nEndSection\n");
  set_mtime(root.path() + "/var/log/messages.2.gz", 1000000000);
  set_mtime(root.path() + "/var/log/messages.1", 1100000000);
  ASSERT_EQ(mkfifo((root.path() + "/var/log/boot").c_str(), 0644), 0);

  zvtest::temp_dir cwd;
  zvtest::run_options o;
  o.args = {"-batch", "-local", "-sysroot", root.path(), "-probe", "GATHERER_INFORMATION", "SYSTEM_LOGS",
            "DISPLAY_INFORMATION", "PARTITION_INFORMATION", "TIME_ZONE", "REGIONAL_SETTINGS",
            "-skip", "PARTITION_INFORMATION"};
  o.cwd = cwd.path();
  o.env = {{"DISPLAY", ""}, {"LANG", "C"}, {"HOME", cwd.path()}};
  o.timeout_seconds = 60;
  zvtest::run_result r = zvtest::run_program(o);
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  std::string report;
  for (const std::string& name : zvtest::list_dir(cwd.path())) {
    std::string text = zvtest::read_file(cwd.file(name));
    if (text.find("<TABLE ID=") != std::string::npos) report = text;
  }
  ASSERT_FALSE(report.empty()) << r.err;
  if (have_xml_parser()) {
    zvml_check_result check = check_zvml(report);
    EXPECT_TRUE(check.parsed) << check.error;
    EXPECT_TRUE(check.mismatches.empty()) << check.mismatches.front();
  }

  // Every word of the command line, the program first; the skipped group shown disabled.
  EXPECT_EQ(zvtest::count_of(report, "<DEC ID=\"Parameter\""), o.args.size() + 1);
  size_t skipped = report.find("<ROW ID=\"Partition Information\">");
  ASSERT_NE(skipped, std::string::npos);
  EXPECT_NE(report.substr(skipped, 300).find("\"Enabled\" W=\"5\">false<"), std::string::npos)
      << report.substr(skipped, 300);
  EXPECT_EQ(report.find("<TABLE ID=\"Partition Details\">"), std::string::npos);
  // The time and locale tables: local and GMT rows, the root's two locale
  // levels (the thread's, the running program's, is not stated under a root).
  EXPECT_NE(report.find("<STR ID=\"Daylight Saving\" W=\"15\">No</STR>\r\n<STR ID=\"Time Zone\" W=\"40\">GMT<"),
            std::string::npos);
  EXPECT_EQ(zvtest::count_of(report, "<STR ID=\"Locale\" W=\"32\">C.UTF-8<"), 2u);
  EXPECT_EQ(zvtest::count_of(report, "<STR ID=\"Locale\" W=\"32\">C<"), 0u);

  // The newest 500 lines of all messages files, oldest file first.
  std::string all = record(report, "System Log");
  EXPECT_EQ(zvtest::count_of(all, "\n"), 500u);
  EXPECT_EQ(all.find("line 101\n"), std::string::npos);
  EXPECT_EQ(all.find("line 102\n"), all.find("line")) << all.substr(0, 100);
  EXPECT_NE(all.find("\xef\xbf\xbd\xef\xbf\xbd ]]> end\n"), std::string::npos);
  // The kernel lines of the uncompressed files only, older file first.
  std::string kernel = record(report, "Kernel Log");
  EXPECT_EQ(zvtest::count_of(kernel, "kernel:"), 2u) << kernel;
  EXPECT_LT(kernel.find("rotated once"), kernel.find("<b>"));
  EXPECT_EQ(kernel.find("rotated twice"), std::string::npos);
  EXPECT_EQ(record(report, "/var/log/boot.log"), "Starting services <ok>\n");
  EXPECT_EQ(record(report, "/var/log/boot"), "<none>");
  EXPECT_NE(record(report, "/etc/X11/xorg.conf").find("Identifier \"Card0\""), std::string::npos);
}

// A current system without a messages file: the system and kernel logs come
// from the journal, through journalctl (a stand-in here that replays a
// recorded journal and names its arguments); under a system root they are
// left out, as journalctl cannot be confined to the root.
TEST(SelfReportAndLogsE2E, WithoutAMessagesFileTheJournalIsRead) {
  if (access("/var/log/messages", F_OK) == 0) GTEST_SKIP() << "this machine has a messages file";
  if (access("/var/log/journal", X_OK) != 0 && access("/run/log/journal", X_OK) != 0)
    GTEST_SKIP() << "this machine keeps no journal";
  const std::string journal = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/system/recorded/journal.txt";
  zvtest::temp_dir bin, cwd;
  ASSERT_TRUE(zvtest::write_file(bin.path(), "/journalctl",
                                 "#!/bin/sh\necho \"args: $*\"\ncat '" + journal + "'\n"));
  chmod(bin.file("journalctl").c_str(), 0755);
  const char* path = getenv("PATH");
  zvtest::run_options o;
  o.args = {"-batch", "-stdout", "-probe", "SYSTEM_LOGS"};
  o.cwd = cwd.path();
  o.env = {{"PATH", bin.path() + ":" + (path ? path : "/usr/bin:/bin")}};
  zvtest::run_result r = zvtest::run_program(o);
  ASSERT_TRUE(r.exited) << r.err;
  std::string system_log = record(r.out, "System Log"), kernel_log = record(r.out, "Kernel Log");
  EXPECT_NE(system_log.find("args: --no-pager --quiet --output=short -n 500\n"), std::string::npos) << system_log;
  EXPECT_NE(kernel_log.find("-n 500 _TRANSPORT=kernel\n"), std::string::npos) << kernel_log;
  EXPECT_NE(system_log.find("sshd[812]: Accepted publickey"), std::string::npos) << system_log;
  // Under a root without messages files: no log records at all.
  zvtest::fixture_root root;
  root.add("/etc/hostname", "captured\n");
  o.args = {"-batch", "-stdout", "-probe", "SYSTEM_LOGS", "-sysroot", root.path()};
  r = zvtest::run_program(o);
  EXPECT_EQ(record(r.out, "System Log"), "<none>");
  EXPECT_EQ(r.out.find("args:"), std::string::npos);
}
