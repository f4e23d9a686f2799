// system_probes_test.cpp - whole runs of the users, schedules, processes,
// packages, modules and resource probes: a fixture system root whose tables
// must come out exactly (tests/fixtures/system/expected/<title>.tsv), this
// machine's own files, the real package tools, and outside commands that
// hang.
#include "zvtest.h"

#include <filesystem>

#include "report_rows.h"
#include "smbios_root.h"

namespace fs = std::filesystem;

namespace {

using rows = std::vector<std::vector<std::string>>;

const std::string fixtures = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/system/";

rows expected_rows(const std::string& title) {
  rows out;
  std::string name = title;
  std::replace(name.begin(), name.end(), '/', '_');
  std::istringstream in(zvtest::read_file(fixtures + "expected/" + name + ".tsv"));
  for (std::string line; std::getline(in, line);) out.push_back(zvtest::split(line));  // "#" is a user's name
  return out;
}

/// Writes an executable stand-in tool into dir.
void stand_in(const std::string& dir, const std::string& tool, const std::string& script) {
  ASSERT_TRUE(zvtest::write_file(dir, "/" + tool, "#!/bin/sh\n" + script + "\n"));
  chmod((dir + "/" + tool).c_str(), 0755);
}

/// The text report of a run in cwd.
std::string text_report(const zvtest::temp_dir& cwd) {
  for (const std::string& name : zvtest::list_dir(cwd.path()))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".TXT") == 0)
      return zvtest::read_file(cwd.file(name));
  return "";
}

zvtest::run_result run_probes(const zvtest::temp_dir& cwd, const std::string& root, const std::string& probes,
                              const std::string& path_first, std::vector<std::string> extra = {}) {
  zvtest::run_options o;
  o.args = {"-batch", "-local", "-text", "-debug", "-probe", probes};
  if (!root.empty()) o.args.insert(o.args.end(), {"-sysroot", root});
  o.args.insert(o.args.end(), extra.begin(), extra.end());
  o.cwd = cwd.path();
  const char* path = getenv("PATH");
  o.env = {{"PATH", path_first.empty() ? std::string(path ? path : "/usr/bin:/bin")
                                       : path_first + ":" + (path ? path : "/usr/bin:/bin")}};
  return zvtest::run_program(o);
}

}  // namespace

TEST(SystemProbesE2E, FixtureRootTablesComeOutExactly) {
  zvtest::temp_dir root, bin, cwd;
  fs::copy(fixtures + "root", root.path(), fs::copy_options::recursive);
  // Installed modules of the root's kernel, compressed and plain, one with
  // line breaks in its names (one row, the breaks shown as "?"). The module
  // information tool is the running machine's: under a root it is not asked
  // (the stand-in's words must not appear), so only names and paths are known.
  for (const char* m : {"kernel/drivers/net/e1000/e1000.ko.xz", "kernel/sound/snd-hda-intel.ko",
                        "extra/fuse.ko.zst", "kernel/net/README", "kernel/li\nne/odd\nname.ko"})
    ASSERT_TRUE(zvtest::write_file(root.path(), std::string("/lib/modules/5.10.0-test/") + m, ""));
  stand_in(bin.path(), "modinfo",
           "printf 'filename: %s\\nauthor: A. Author\\nauthor: B. Author\\nlicense: GPL\\n"
           "description: module %s\\n' \"$1\" \"${1##*/}\"");
  zvtest::run_result r = run_probes(
      cwd, root.path(),
      "WORKSTATION_SECURITY;SCHEDULED_TASKS;RESOURCE_INFORMATION;DEVICE_DRIVER_INFORMATION;INSTALLED_SOFTWARE",
      bin.path());
  ASSERT_TRUE(r.exited) << r.err;
  std::string report = text_report(cwd);
  ASSERT_FALSE(report.empty()) << r.err;
  for (const char* title : {"User Accounts", "Groups", "Scheduled Tasks", "DMA Channels in use",
                            "I/O Memory Map", "I/O Ports", "IRQs", "Loaded Modules", "Kernel Modules",
                            "DPKG Packages"}) {
    SCOPED_TRACE(title);
    rows got = smbios_test::text_table(report, title), want = expected_rows(title);
    // find lists files in directory order.
    if (std::string(title) == "Kernel Modules") std::sort(got.begin(), got.end());
    ASSERT_EQ(got.size(), want.size()) << report;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << "row " << i;
  }
  EXPECT_NE(report.find("options snd-hda-intel model=auto"), std::string::npos);
  // 32 processors: 17 count columns keep Type and Device; the rest are logged.
  EXPECT_NE(zvtest::read_file(cwd.file("gatherer.log")).find("IRQs"), std::string::npos);
  EXPECT_NE(zvtest::read_file(cwd.file("gatherer.log")).find("processors 18 to 32: 170 180"),
            std::string::npos);
}

TEST(SystemProbesE2E, ThisMachinesOwnFilesGiveOneRowPerEntry) {
  zvtest::temp_dir root, cwd;
  for (const char* f : {"/etc/passwd", "/etc/group", "/proc/iomem", "/proc/interrupts"}) {
    std::string text = zvtest::read_file(f);
    if (text.empty()) GTEST_SKIP() << f << " is not readable here";
    ASSERT_TRUE(zvtest::write_file(root.path(), f, text));
  }
  zvtest::run_result r = run_probes(cwd, root.path(), "WORKSTATION_SECURITY;RESOURCE_INFORMATION", "");
  ASSERT_TRUE(r.exited) << r.err;
  std::string report = text_report(cwd);
  EXPECT_EQ(smbios_test::text_table(report, "User Accounts").size(),
            zvtest::count_of(zvtest::read_file("/etc/passwd"), "\n"));
  EXPECT_EQ(smbios_test::text_table(report, "Groups").size(),
            zvtest::count_of(zvtest::read_file("/etc/group"), "\n"));
  EXPECT_FALSE(smbios_test::text_table(report, "IRQs").empty());
  EXPECT_FALSE(smbios_test::text_table(report, "I/O Memory Map").empty());
  // Files the root lacks give tables with headings and no rows.
  EXPECT_NE(report.find("Table: DMA Channels in use"), std::string::npos);
  EXPECT_TRUE(smbios_test::text_table(report, "DMA Channels in use").empty());
}

// A tool that never ends is stopped at the time limit; the rows it wrote
// before stay, and the run goes on.
TEST(SystemProbesE2E, AHangingToolIsEndedAndItsRowsStay) {
  zvtest::temp_dir bin, cwd;
  stand_in(bin.path(), "ps", "printf '    7 root 0 0.0 0.1 S stuck tool\\n'; exec sleep 1000");
  auto start = std::chrono::steady_clock::now();
  zvtest::run_result r = run_probes(cwd, "", "PROCESSES;ENVIRONMENT", bin.path(), {"-timeout", "1"});
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_NE(r.err.find("ps timed out"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Run complete, rc = 0"), std::string::npos) << r.err;
  std::string report = text_report(cwd);
  rows processes = smbios_test::text_table(report, "Process List");
  ASSERT_EQ(processes.size(), 1u) << report;
  EXPECT_EQ(processes[0][0], "7");
  rows status = smbios_test::text_table(report, "Command Status");
  ASSERT_EQ(status.size(), 1u) << report;
  EXPECT_EQ(status[0][0], "ps");
  EXPECT_FALSE(smbios_test::text_table(report, "Shell variables").empty());
  EXPECT_NE(zvtest::read_file(cwd.file("gatherer.log")).find("command: timed out after 1 s: '" + bin.path() + "/ps'"),
            std::string::npos);
}

// Every probe says when its command hit the time limit, in the same words:
// on its console line and in a "Command Status" row; a tool look-up that
// timed out too. What the tools write to their error output (escape
// sequences included) goes to the debug log, never to the terminal.
TEST(SystemProbesE2E, EveryCommandThatTimesOutIsReported) {
  const struct {
    const char* tool;
    const char* probe;
    const char* said;  ///< console words and the row's Command
    bool live;         ///< on the running machine (the process tool is not looked for under a root)
  } rows_wanted[] = {
      {"tail", "SYSTEM_LOGS", "tail", false},
      {"tune2fs", "PARTITION_INFORMATION", "tune2fs", false},
      {"which", "PROCESSES", "which ps", true},
  };
  zvtest::fixture_root root;
  root.add("/var/log/boot.log", "booted\n").add("/dev/sda1", "image").add(
      "/proc/partitions", "major minor  #blocks  name\n\n   8        1       4 sda1\n");
  zvtest::temp_dir bin;
  for (const auto& w : rows_wanted)
    stand_in(bin.path(), w.tool, "printf '\\033]0;TOOL-NOISE\\007' >&2; exec sleep 1000");
  for (bool live : {false, true}) {
    zvtest::temp_dir cwd;
    std::string probes;
    for (const auto& w : rows_wanted)
      if (w.live == live) probes += std::string(probes.empty() ? "" : ";") + w.probe;
    zvtest::run_result r = run_probes(cwd, live ? "" : root.path(), probes, bin.path(), {"-timeout", "1"});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.err.find("TOOL-NOISE"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\033'), std::string::npos);
    EXPECT_NE(zvtest::read_file(cwd.file("gatherer.log")).find("\033]0;TOOL-NOISE"), std::string::npos);
    std::string report = text_report(cwd);
    for (const auto& w : rows_wanted) {
      if (w.live != live) continue;
      SCOPED_TRACE(w.tool);
      EXPECT_NE(r.err.find(std::string(w.said) + " timed out "), std::string::npos) << r.err;
      // A row of a "Command Status" table (each section has its own).
      std::string cell = "| " + std::string(w.said);
      cell.resize(35, ' ');
      EXPECT_NE(report.find(cell + "| timed out after 1 s; rows before it kept"), std::string::npos) << report;
    }
  }
}

// A run as a normal user says which tables it could not read fully.
TEST(SystemProbesE2E, TablesANormalUserCannotReadFullyAreNamed) {
  zvtest::fixture_root root;
  root.add("/proc/iomem", "00000000-00000000 : System RAM\n  00000000-00000000 : Kernel code\n");
  zvtest::temp_dir bin, cwd;
  stand_in(bin.path(), "iptables", "echo 'iptables: Permission denied (you must be root)'; exit 4");
  // iptables runs for the live machine only: the packet filter of a
  // system root is never the running machine's.
  zvtest::run_result r = run_probes(cwd, root.path(), "RESOURCE_INFORMATION", bin.path());
  ASSERT_TRUE(r.exited) << r.err;
  std::string report = text_report(cwd);
  zvtest::temp_dir live;
  r = run_probes(live, "", "NETWORK", bin.path());
  ASSERT_TRUE(r.exited) << r.err;
  report += text_report(live);
  EXPECT_EQ(zvtest::count_of(report, "Table: Incomplete Data"), 2u) << report;
  // Each a row of its own "Incomplete Data" table.
  for (std::string cell : {"| I/O Memory Map", "| iptables Chains"}) {
    cell.resize(67, ' ');
    EXPECT_NE(report.find(cell + "| "), std::string::npos) << cell << "\n" << report;
  }
  EXPECT_NE(report.find("| addresses hidden by the kernel: not run as root "), std::string::npos);
  EXPECT_NE(report.find("| iptables: Permission denied (you must be root) "), std::string::npos);
}

/// The "DPKG Packages" rows of a run of the package probe with this environment.
rows package_rows(const std::vector<std::pair<std::string, std::string>>& env, std::string& log) {
  zvtest::temp_dir cwd;
  zvtest::run_options o;
  o.args = {"-batch", "-stdout", "-debug", "-probe", "INSTALLED_SOFTWARE"};
  o.cwd = cwd.path();
  o.env = env;
  zvtest::run_result r = zvtest::run_program(o);
  log = zvtest::read_file(cwd.file("gatherer.log"));
  rows out;
  zvtest::table_rows tables = zvtest::report_rows(r.out);
  for (const auto& row : tables["DPKG Packages"]) {
    std::vector<std::string> cells;
    std::istringstream in(row.substr(row.find('\t') + 1));
    for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
    out.push_back(cells);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The real package tools: dpkg-query where it is installed, aptitude where it
// is not, and both give the same rows. aptitude is given an empty archive
// index, so that it, like dpkg-query, knows only the installed records.
TEST(SystemProbesE2E, DpkgQueryAndAptitudeGiveTheSameRows) {
  zvtest::temp_dir cwd;
  zvtest::run_result r = run_probes(cwd, "", "INSTALLED_SOFTWARE", "");
  ASSERT_TRUE(r.exited) << r.err;
  std::string report = text_report(cwd), log;
  if (access("/usr/bin/rpm", X_OK) == 0) {
    EXPECT_NE(report.find("Table: RPM Packages"), std::string::npos);
  }
  if (access("/usr/bin/dpkg-query", X_OK) != 0 || access("/usr/bin/aptitude", X_OK) != 0)
    GTEST_SKIP() << "dpkg-query and aptitude are not both installed";
  const char* path = getenv("PATH");
  rows by_dpkg_query = package_rows({{"PATH", path ? path : "/usr/bin:/bin"}}, log);
  EXPECT_NE(log.find("package list from dpkg-query"), std::string::npos);
  ASSERT_GT(by_dpkg_query.size(), 10u);
  zvtest::temp_dir bin, apt;
  for (const char* tool : {"which", "aptitude"})
    ASSERT_EQ(symlink((std::string("/usr/bin/") + tool).c_str(), (bin.path() + "/" + tool).c_str()), 0);
  for (const char* dir : {"/lists/partial", "/cache/archives/partial"}) fs::create_directories(apt.path() + dir);
  ASSERT_TRUE(zvtest::write_file(apt.path(), "/apt.conf",
                                 "Dir::State::Lists \"" + apt.path() + "/lists\";\nDir::Cache \"" + apt.path() +
                                     "/cache\";\n"));
  rows by_aptitude = package_rows({{"PATH", bin.path()}, {"APT_CONFIG", apt.file("apt.conf")}}, log);
  EXPECT_NE(log.find("package list from aptitude"), std::string::npos);
  ASSERT_EQ(by_aptitude.size(), by_dpkg_query.size());
  for (size_t i = 0; i < by_aptitude.size(); ++i) EXPECT_EQ(by_aptitude[i], by_dpkg_query[i]) << "row " << i;
}
