// net_test.cpp - the "NETWORK" group in whole runs: the hosts and resolver
// tables from a fixture root and the loopback interface of this machine;
// then, where the test may make network namespaces, a namespace with a veth
// pair, known addresses, routes and a filter rule whose tables must come out
// exactly as set up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using rows = std::vector<std::string>;

/// The rows of a text-rendered table, cells trimmed and joined with "|".
rows table_rows(const std::string& report, const std::string& title) {
  rows out;
  size_t at = report.find("Table: " + title + "\n");
  if (at == std::string::npos) return {"<no table>"};
  at = report.find('\n', at) + 1;
  for (int skip = 0; skip < 3 && at; skip++) at = report.find('\n', at) + 1;  // border, heading, border
  while (at && at < report.size() && report.compare(at, 2, "| ") == 0) {
    size_t end = report.find('\n', at);
    std::string line = report.substr(at, end - at), row;
    size_t from = 1;
    for (size_t bar; (bar = line.find(" |", from)) != std::string::npos; from = bar + 2) {
      std::string cell = line.substr(from, bar - from);
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      row += (row.empty() && from == 1 ? "" : "|") + cell;
    }
    out.push_back(row);
    at = end + 1;
  }
  return out;
}

rows sorted(rows r) {
  std::sort(r.begin(), r.end());
  return r;
}

std::string find_ip() {
  for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

int ip(const std::string& tool, const std::vector<std::string>& args) {
  zvtest::run_options o;
  o.program = tool;
  o.args = args;
  o.timeout_seconds = 30;
  zvtest::run_result r = zvtest::run_program(o);
  return r.exited ? r.status : -1;
}

/// A network namespace for one test, removed on every path out of it.
class netns_guard {
 public:
  netns_guard(const std::string& tool, const std::string& name) : tool(tool), name(name) {
    made = ip(tool, {"netns", "add", name}) == 0;
  }
  ~netns_guard() {
    if (made) ip(tool, {"netns", "del", name});
  }
  bool ok() const { return made; }
  /// Runs "ip -n NAME args" and tells whether it worked.
  bool run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"-n", name});
    return ip(tool, args) == 0;
  }

  const std::string tool, name;

 private:
  bool made = false;
};

TEST(NetworkE2E, HostsResolverAndLoopbackTables) {
  zvtest::fixture_root root;
  const std::string dir = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/net/";
  root.add("/etc/hosts", zvtest::read_file(dir + "hosts.txt"));
  root.add("/etc/resolv.conf", zvtest::read_file(dir + "resolv.conf"));
  zvtest::temp_dir cwd;
  zvtest::run_result r =
      zvtest::run({"-batch", "-text", "-stdout", "-probe", "NETWORK", "-sysroot", root.path()}, cwd.path());
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string long_address(63, 'A'), long_name(127, 'h');
  EXPECT_EQ(table_rows(r.out, "Hosts File"),
            (rows{"127.0.0.1|localhost", "::1|localhost", "::1|ip6-localhost", "::1|ip6-loopback",
                  "10.0.0.5|alpha.example.org", "10.0.0.5|alpha", "10.0.0.6|#only-a-comment-name", "10.0.0.8|beta",
                  "192.168.1.1|indented", long_address + "|" + long_name}));
  const std::string search = "Host-name lookup search domain|", dns = "DNS Name Server|";
  EXPECT_EQ(table_rows(r.out, "Resolver Configuration"),
            (rows{search + "example.org", search + "corp.example.org", dns + "10.255.255.53", dns + "192.0.2.53",
                  search + "lab.example.net", search + "#first-token-is-kept", search + "next"}));
  rows links = table_rows(r.out, "Network Interfaces");
  EXPECT_NE(std::find_if(links.begin(), links.end(),
                         [](const std::string& row) { return row.rfind("lo|loopback|", 0) == 0 &&
                                                             row.find("LOOPBACK") != std::string::npos; }),
            links.end())
      << r.out;
  for (const char* t : {"Network Interface Statistics", "Network Addresses", "Network Routing Table"})
    EXPECT_NE(r.out.find(std::string("Table: ") + t + "\n"), std::string::npos) << t;
}

TEST(NetworkE2E, NamespaceWithVethPairGivesExactlyItsTables) {
  std::string tool = find_ip();
  if (geteuid() != 0 || tool.empty()) GTEST_SKIP() << "needs root and ip";
  netns_guard ns(tool, "zvnet" + std::to_string(getpid()));
  if (!ns.ok()) GTEST_SKIP() << "network namespaces are not available here";
  ASSERT_TRUE(ns.run({"link", "set", "lo", "up"}));
  ASSERT_TRUE(ns.run({"link", "add", "zva0", "address", "02:00:00:00:77:01", "type", "veth", "peer", "name", "zvb0",
                      "address", "02:00:00:00:77:02"}));
  ASSERT_TRUE(ns.run({"addr", "add", "10.77.1.1/24", "brd", "+", "dev", "zva0"}));
  ASSERT_TRUE(ns.run({"addr", "add", "10.77.2.1/24", "brd", "+", "dev", "zvb0", "label", "zvb0:lab"}));
  ASSERT_TRUE(ns.run({"link", "set", "zva0", "up"}));
  ASSERT_TRUE(ns.run({"link", "set", "zvb0", "up", "mtu", "9000"}));
  ASSERT_TRUE(ns.run({"route", "add", "192.168.99.0/24", "via", "10.77.1.2", "dev", "zva0"}));
  ASSERT_TRUE(ns.run({"route", "add", "default", "via", "10.77.2.254"}));
  // A filter rule where the namespace has a packet filter.
  zvtest::run_options rule;
  rule.program = tool;
  rule.args = {"netns", "exec", ns.name, "iptables", "-A", "INPUT", "-i", "zva0", "-s", "10.77.1.0/24",
               "-p", "tcp", "--dport", "22", "-j", "ACCEPT"};
  zvtest::run_result filter = zvtest::run_program(rule);
  bool have_filter = filter.exited && filter.status == 0;

  zvtest::temp_dir cwd;
  zvtest::run_options o;
  o.program = tool;
  o.args = {"netns", "exec", ns.name, zvtest::program_path(), "-batch", "-text", "-stdout", "-probe", "NETWORK"};
  o.cwd = cwd.path();
  zvtest::run_result r = zvtest::run_program(o);
  ASSERT_TRUE(r.exited) << r.err;
  ASSERT_EQ(r.status, 0) << r.err;

  const std::string up = "UP RUNNING BROADCAST MULTICAST";
  EXPECT_EQ(sorted(table_rows(r.out, "Network Interfaces")),
            sorted({"lo|loopback|00:00:00:00:00:00|UP RUNNING LOOPBACK|65536",
                    "zva0|ether|02:00:00:00:77:01|" + up + "|1500", "zvb0|ether|02:00:00:00:77:02|" + up + "|9000"}))
      << r.out;
  EXPECT_EQ(table_rows(r.out, "Network Interface Statistics").size(), 3u);
  EXPECT_EQ(sorted(table_rows(r.out, "Network Addresses")),
            sorted({"lo|inet|127.0.0.1|255.0.0.0||lo", "zva0|inet|10.77.1.1|255.255.255.0|10.77.1.255|zva0",
                    "zvb0:lab|inet|10.77.2.1|255.255.255.0|10.77.2.255|zvb0"}));
  // The main table exactly; of the kernel's local table (which differs a
  // little between kernel versions), the routes to the machine's own addresses.
  rows routes = table_rows(r.out, "Network Routing Table"), unicast;
  for (const std::string& row : routes)
    if (row.find("|unicast|") != std::string::npos) unicast.push_back(row);
  EXPECT_EQ(sorted(unicast), sorted({"default|10.77.2.254|0.0.0.0|universe|unicast|zvb0",
                                     "10.77.1.0||255.255.255.0|link|unicast|zva0",
                                     "10.77.2.0||255.255.255.0|link|unicast|zvb0",
                                     "192.168.99.0|10.77.1.2|255.255.255.0|universe|unicast|zva0"}))
      << r.out;
  for (const char* local : {"10.77.1.1||255.255.255.255|host|local|zva0", "10.77.2.1||255.255.255.255|host|local|zvb0",
                            "127.0.0.1||255.255.255.255|host|local|lo"})
    EXPECT_NE(std::find(routes.begin(), routes.end(), local), routes.end()) << local;
  if (have_filter) {
    // Numeric listings name the protocol by number in newer releases of the tool.
    rows input = table_rows(r.out, "iptables INPUT Chain");
    std::string rest = "|--|zva0|*|10.77.1.0/24|0.0.0.0/0|tcp dpt:22";
    EXPECT_TRUE(input == rows{"1|0|0|ACCEPT|tcp" + rest} || input == rows{"1|0|0|ACCEPT|6" + rest}) << r.out;
    EXPECT_EQ(table_rows(r.out, "iptables OUTPUT Chain"), rows{});
  }
}

}  // namespace
