// net_test.cpp - the "NETWORK" group in whole runs: against a fixture root
// (none of this machine's network in it), and, where the test may make network
// namespaces, inside one with a veth pair, known addresses, routes and a
// filter rule. The tables expected are in tests/fixtures/net/e2e_tables.tsv.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using rows = std::vector<std::string>;
const std::string dir = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/net/";

/// The rows of a text-rendered table, cells trimmed and joined with "|".
rows table_rows(const std::string& report, const std::string& title) {
  size_t at = report.find("Table: " + title + "\n");
  if (at == std::string::npos) return {"<no table>"};
  for (int skip = 0; skip < 4; skip++) at = report.find('\n', at) + 1;  // title, border, heading, border
  rows out;
  for (size_t end; report.compare(at, 2, "| ") == 0; at = end + 1) {
    end = report.find('\n', at);
    std::string line = report.substr(at, end - at), row;
    for (size_t from = 1, bar; (bar = line.find(" |", from)) != std::string::npos; from = bar + 2) {
      std::string cell = line.substr(from, bar - from);
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      row += (from == 1 ? "" : "|") + cell;
    }
    if (row.find("|6|--|") != std::string::npos) row.replace(row.find("|6|--|"), 6, "|tcp|--|");
    out.push_back(row);
  }
  return out;
}

/// Checks every table the fixture file expects of this run.
void check_tables(const std::string& run, const std::string& report, bool with_filter) {
  std::ifstream in(dir + "e2e_tables.tsv");
  ASSERT_TRUE(in.good());
  std::vector<std::pair<std::string, rows>> tables;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("= ", 0) == 0) tables.push_back({line.substr(2), {}});
    else if (!line.empty() && line[0] != '#') tables.back().second.push_back(line);
  }
  for (auto& t : tables) {
    size_t bar = t.first.find('|'), bar2 = t.first.rfind('|');
    std::string title = t.first.substr(bar + 1, bar2 - bar - 1), check = t.first.substr(bar2 + 1);
    if (t.first.substr(0, bar) != run || (!with_filter && title.rfind("iptables", 0) == 0)) continue;
    SCOPED_TRACE(t.first);
    rows got = table_rows(report, title);
    if (check == "unicast") got.erase(std::remove_if(got.begin(), got.end(), [](const std::string& r) {
                                        return r.find("|unicast|") == std::string::npos; }), got.end());
    if (check == "sorted" || check == "unicast") {
      std::sort(got.begin(), got.end());
      std::sort(t.second.begin(), t.second.end());
    }
    if (check == "contains")
      for (const std::string& row : t.second) EXPECT_NE(std::find(got.begin(), got.end(), row), got.end()) << row;
    else
      EXPECT_EQ(got, t.second) << report;
  }
}

std::string find_ip() {
  for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

zvtest::run_result run_tool(const std::string& tool, const std::vector<std::string>& args, int seconds = 30) {
  zvtest::run_options o;
  o.program = tool;
  o.args = args;
  o.timeout_seconds = seconds;
  zvtest::temp_dir cwd;
  o.cwd = cwd.path();
  return zvtest::run_program(o);
}

bool ok(const zvtest::run_result& r) { return r.exited && r.status == 0; }

/// A network namespace for one test, removed on every path out of it.
/// `usable` is false where one cannot be entered: inside a chroot whose root
/// is not a mount point "ip netns add" succeeds, but "ip netns exec" cannot
/// make its private mounts.
struct netns_guard {
  netns_guard(const std::string& tool, const std::string& name)
      : tool(tool), name(name), made(ok(run_tool(tool, {"netns", "add", name}))),
        usable(made && ok(exec({"/bin/sh", "-c", "exit 0"}))) {}
  ~netns_guard() {
    if (made) run_tool(tool, {"netns", "del", name});
  }
  /// "ip -n NAME args".
  bool ip(std::vector<std::string> args) const {
    args.insert(args.begin(), {"-n", name});
    return ok(run_tool(tool, args));
  }
  /// "ip netns exec NAME args".
  zvtest::run_result exec(std::vector<std::string> args) const {
    args.insert(args.begin(), {"netns", "exec", name});
    return run_tool(tool, args, 120);
  }
  const std::string tool, name;
  const bool made, usable;
};

TEST(NetworkE2E, FixtureRootHostsResolverAndLoopback) {
  zvtest::fixture_root root;
  root.add("/etc/hosts", zvtest::read_file(dir + "hosts.txt"));
  root.add("/etc/resolv.conf", zvtest::read_file(dir + "resolv.conf"));
  zvtest::temp_dir cwd;
  zvtest::run_result r =
      zvtest::run({"-batch", "-text", "-stdout", "-probe", "NETWORK", "-sysroot", root.path()}, cwd.path());
  ASSERT_TRUE(ok(r)) << r.err;
  check_tables("root", r.out, false);
  // The root holds no network files of its kernel: those tables are left
  // out and the console says why (never the running machine's network).
  for (const char* t : {"Network Interfaces", "Network Addresses", "Network Routing Table"}) {
    EXPECT_EQ(r.out.find(std::string("Table: ") + t + "\n"), std::string::npos) << t;
    EXPECT_NE(r.err.find(std::string("(") + t + ": not available under a system root)"), std::string::npos) << t;
  }
}

// Without iptables, a packet filter set with nft is embedded as nft lists it
// (a stand-in nft here); under a system root neither tool is asked.
TEST(NetworkE2E, WithoutIptablesTheNftRulesetIsEmbedded) {
  zvtest::temp_dir bin, cwd;
  ASSERT_TRUE(zvtest::write_file(bin.path(), "/nft",
                                 "#!/bin/sh\n[ \"$*\" = \"list ruleset\" ] || exit 2\n"
                                 "printf 'table inet filter {\\n\\tchain input {\\n\\t\\ttype filter hook input priority 0;\\n"
                                 "\\t\\ttcp dport 22 accept\\n\\t}\\n}\\n'\n"));
  chmod(bin.file("nft").c_str(), 0755);
  zvtest::run_options o;
  o.args = {"-batch", "-stdout", "-probe", "NETWORK"};
  o.cwd = cwd.path();
  o.env = {{"PATH", bin.path()}};
  zvtest::run_result r = zvtest::run_program(o);
  ASSERT_TRUE(ok(r)) << r.err;
  EXPECT_NE(r.out.find("<FILE ID=\"nft ruleset\">"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tcp dport 22 accept"), std::string::npos);
  EXPECT_EQ(r.out.find("iptables INPUT Chain"), std::string::npos);
  zvtest::fixture_root root;
  root.add("/etc/hosts", "127.0.0.1 localhost\n");
  o.args = {"-batch", "-stdout", "-probe", "NETWORK", "-sysroot", root.path()};
  r = zvtest::run_program(o);
  EXPECT_EQ(r.out.find("nft ruleset"), std::string::npos);
}

TEST(NetworkE2E, NamespaceWithVethPairGivesExactlyItsTables) {
  std::string tool = find_ip();
  if (geteuid() != 0 || tool.empty()) GTEST_SKIP() << "needs root and ip";
  netns_guard ns(tool, "zvnet" + std::to_string(getpid()));
  if (!ns.made) GTEST_SKIP() << "ip netns cannot make a network namespace here";
  if (!ns.usable) GTEST_SKIP() << "ip netns made a namespace that cannot be entered here (a chroot?)";
  const std::vector<std::vector<std::string>> setup = {
      {"link", "set", "lo", "up"},
      {"link", "add", "zva0", "address", "02:00:00:00:77:01", "type", "veth", "peer", "name", "zvb0", "address",
       "02:00:00:00:77:02"},
      {"addr", "add", "10.77.1.1/24", "brd", "+", "dev", "zva0"},
      {"addr", "add", "10.77.2.1/24", "brd", "+", "dev", "zvb0", "label", "zvb0:lab"},
      {"link", "set", "zva0", "up"},
      {"link", "set", "zvb0", "up", "mtu", "9000"},
      {"route", "add", "192.168.99.0/24", "via", "10.77.1.2", "dev", "zva0"},
      {"route", "add", "default", "via", "10.77.2.254"},
      {"addr", "add", "fd00:77::1/64", "dev", "zva0", "nodad"},
      {"route", "add", "203.0.113.0/24", "nexthop", "via", "10.77.1.2", "dev", "zva0", "nexthop", "via",
       "10.77.2.2", "dev", "zvb0"}};
  for (const auto& step : setup) ASSERT_TRUE(ns.ip(step)) << step[0] << " " << step[1] << " " << step[2];
  bool with_filter = ok(ns.exec({"iptables", "-A", "INPUT", "-i", "zva0", "-s", "10.77.1.0/24", "-p", "tcp",
                                 "--dport", "22", "-j", "ACCEPT"}));
  zvtest::run_result r = ns.exec({zvtest::program_path(), "-batch", "-text", "-stdout", "-probe", "NETWORK"});
  ASSERT_TRUE(ok(r)) << r.err;
  check_tables("ns", r.out, with_filter);
  EXPECT_EQ(table_rows(r.out, "Network Interface Statistics").size(), 3u);
}

}  // namespace
