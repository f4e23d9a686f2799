// net_probe.h - the "NETWORK" probe group: interfaces, addresses, routes and
// packet-filter chains, the hosts file and the resolver configuration.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "net_link_linux.h"
#include "probe.h"

/// "NETWORK": interface, statistics, address, packet-filter and route tables.
class net_probe : public probe {
 public:
  explicit net_probe(probe_group* group);
  bool test() override { return true; }
  /// Writes every table (empty ones when the kernel cannot be asked). Under
  /// a system root, whose kernel is not the one netlink asks, the tables come
  /// from the root's own /proc/net and /sys/class/net, each left out (and
  /// said so) when those do not hold it.
  bool run(FILE* report) override;

 private:
  const rtnl_link_info* find_interface(int32_t index) const;
  void interface_tables(FILE* report);
  void address_table(FILE* report);
  void iptables_tables(FILE* report);
  void nft_ruleset(FILE* report);
  bool route_table(FILE* report);
  void root_interfaces();
  void root_addresses(FILE* report);
  void root_routes(FILE* report);
  int32_t index_of(const std::string& name);

  std::vector<rtnl_link_info> interfaces;
  bool have_stats = false;
};

/// "Hosts": the hosts file, one row per host name.
class hosts_probe : public probe {
 public:
  explicit hosts_probe(probe_group* group);
  bool test() override;
  bool run(FILE* report) override;
};

/// "Resolver Configuration": search domains and name servers.
class resolv_probe : public probe {
 public:
  explicit resolv_probe(probe_group* group);
  bool test() override;
  bool run(FILE* report) override;
};

/// The workstation's domain for the output file name: always empty on Linux.
char* get_ws_domain(char* buffer, int size);
