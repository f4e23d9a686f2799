// sysroot_test.cpp - under "-sysroot" every table describes the root or is
// left out with the console saying so: one runner over a table of roots, and
// one check that nothing of the running machine leaks into a root's report.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::string kMachine = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/sysroot/machine";

/// The text report with every run of blanks made one.
std::string squeezed(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' || out.empty() || out.back() != ' ') out += c;
  return out;
}

zvtest::run_result run_root(const std::string& root) {
  zvtest::temp_dir cwd;
  return zvtest::run({"-batch", "-text", "-stdout", "-sysroot", root}, cwd.path());
}

/// Cell `column` (from 1) of each row of a table of a squeezed report.
std::vector<std::string> cells(const std::string& report, const std::string& title, int column) {
  std::vector<std::string> out;
  size_t at = report.find("Table: " + title + "\n");
  if (at == std::string::npos) return out;
  for (int skip = 0; skip < 4; skip++) at = report.find('\n', at) + 1;  // title, border, heading, border
  for (size_t end; report.compare(at, 2, "| ") == 0; at = end + 1) {
    end = report.find('\n', at);
    size_t from = at + 2;
    for (int c = 1; c < column; c++) from = report.find("| ", from) + 2;
    out.push_back(report.substr(from, report.find(" |", from) - from));
  }
  return out;
}

/// One line of text per line of a command's output ("" when it cannot run).
std::set<std::string> host_lines(const char* command) {
  std::set<std::string> lines;
  if (FILE* p = popen(command, "r")) {
    char line[512];
    while (fgets(line, sizeof line, p)) {
      std::string s = squeezed(line);
      while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
      if (!s.empty()) lines.insert(s.substr(s[0] == ' '));
    }
    pclose(p);
  }
  return lines;
}

TEST(SysrootE2E, EachTableDescribesTheRootOrIsLeftOutSayingWhy) {
  zvtest::fixture_root empty;
  const struct {
    const char* name;
    std::string root;
    std::vector<std::string> rows;    ///< squeezed rows the report holds
    std::vector<std::string> absent;  ///< tables not written
    std::vector<std::string> said;    ///< "(WHAT: not available under a system root)" on the console
  } cases[] = {
      {"machine",
       kMachine,
       {"| 1 | zv-init | root | 0 | | | S |", "| 4242 | zv (odd) dae | zvuser | 5 | | | R |",
        "| zveth7 | ether | 52:54:00:12:34:56 | UP RUNNING BROADCAST MULTICAST | 1500 |",
        "| zvlo | loopback | 00:00:00:00:00:00 | UP RUNNING LOOPBACK | 65536 |",
        "| zveth7 | 50 | 60 | 5000 | 6000 | 1 | 4 | 2 | 5 | 3 | 7 |",
        "| zveth7 | inet6 | fe80::5054:ff:fe12:3456 | ffff:ffff:ffff:ffff:: | | zveth7 |",
        "| default | 10.0.2.1 | 0.0.0.0 | universe | unicast | zveth7 |",
        "| 10.0.2.0 | | 255.255.255.0 | link | unicast | zveth7 |",
        "| default | fe80::1 | :: | universe | unicast | zveth7 |", "| Intel | Unknown | 6 | Unknown | 14 | 10 |",
        "| SSE2 | true |", "| Hyper-Threading | false |", "| zv-only-package | 1.0-1 |",
        "| / | /dev/zvdisk1 | 0 bytes | 0 | 0 bytes | 0 | 0 bytes | 0 | 0 bytes | 0 | ext4 |",
        "| Unknown | Unknown | Unknown | Unknown | Unknown | Unknown | Unknown |", "| No | +03 |"},
       {"Shell variables"},
       {"IPv4 Network Addresses", "Mounted Filesystems sizes", "CPU packages", "Shell variables",
        "Current Thread"}},
      {"empty",
       empty.path(),
       {},
       {"Process List", "Network Interfaces", "Network Interface Statistics", "Network Addresses",
        "Network Routing Table", "CPU Family Information", "CPU Flags", "Shell variables"},
       {"Process List", "Network Interfaces", "Network Addresses", "Network Routing Table", "CPU Information",
        "Local time"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    zvtest::run_result r = run_root(c.root);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string report = squeezed(r.out);
    for (const std::string& row : c.rows) EXPECT_NE(report.find(row), std::string::npos) << row;
    for (const std::string& t : c.absent) EXPECT_EQ(report.find("Table: " + t + "\n"), std::string::npos) << t;
    for (const std::string& what : c.said)
      EXPECT_NE(r.err.find("(" + what + ": not available under a system root)"), std::string::npos) << what;
  }
}

/// A capture whose kernel answered the interface dump with one interface,
/// "zvrec0" (index 3, MTU 1500), then the dump's end.
void fill_recorded_capture(zvtest::fixture_root& capture) {
  const unsigned char link[] = {52, 0, 0, 0, 16, 0, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0,  // header: new link
                                0, 0, 1, 0, 3, 0, 0, 0, 0x43, 0x10, 0, 0, 0, 0, 0, 0,  // ether, UP RUNNING ...
                                11, 0, 3, 0, 'z', 'v', 'r', 'e', 'c', '0', 0, 0,      // name
                                8, 0, 4, 0, 0xdc, 0x05, 0, 0,                          // MTU
                                20, 0, 0, 0, 3, 0, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // done
  capture.add("/.zelvarn2-capture/manifest", "zelvarn2 capture 1\nhost=box\ntime=1700000000\nversion=x\n")
      .add("/.zelvarn2-capture/commands/index", "")
      .add("/.zelvarn2-capture/netlink-link-inet", std::string(reinterpret_cast<const char*>(link), sizeof link));
}

// The root's processes, interfaces and packages differ from this machine's:
// none of this machine's names appear in their tables. A capture's recorded
// netlink answers name its interfaces alone.
TEST(SysrootE2E, NothingOfTheRunningMachineLeaksIntoARootsReport) {
  zvtest::fixture_root recorded;
  fill_recorded_capture(recorded);
  const struct {
    const char* table;
    int column;
    std::set<std::string> host;
    std::set<std::string> root;
    bool replay = false;  ///< of the recorded capture, else of the machine root
  } tables[] = {
      {"Process List", 2, host_lines("ps -eo comm= | cut -c1-12"), {"zv-init", "zv (odd) dae"}},
      {"Network Interfaces", 1, host_lines("ls /sys/class/net"), {"zveth7", "zvlo"}},
      {"DPKG Packages", 1, host_lines("dpkg-query -W -f='${Package}\\n' 2>/dev/null"), {"zv-only-package"}},
      {"Network Interfaces", 1, host_lines("ls /sys/class/net"), {"zvrec0"}, true},
  };
  zvtest::run_result r = run_root(kMachine), replay = run_root(recorded.path());
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(replay.status, 0) << replay.err;
  for (const auto& t : tables) {
    SCOPED_TRACE(t.table);
    std::string report = squeezed(t.replay ? replay.out : r.out);
    // Every machine has processes and interfaces; not every one has packages.
    if (t.column == 2 || t.table == std::string("Network Interfaces")) {
      EXPECT_FALSE(t.host.empty()) << "this machine lists none";
    }
    std::vector<std::string> got = cells(report, t.table, t.column);
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), t.root);
    for (const std::string& name : got) EXPECT_EQ(t.host.count(name), 0u) << name;
  }
}

}  // namespace
