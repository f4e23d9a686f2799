// net_probe.cpp - the "NETWORK" probe group.
//
// Interfaces, addresses and routes come from the kernel over routing netlink,
// one socket per dump (in a replay, from the capture's record of each dump); the packet-filter chains from the iptables command,
// read to the end of its output; the hosts file and the resolver
// configuration from the files under the system root.
#include "net_probe.h"

#include <dirent.h>
#include <errno.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "capture.h"
#include "debug.h"
#include "net_addr_linux.h"
#include "net_conf_linux.h"
#include "net_files_linux.h"
#include "net_route_linux.h"
#include "platform_paths.h"
#include "run_command.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"
#include "xml.h"

namespace {

/// The address and route tables, the same whether the kernel's answers or a
/// system root's files fill them.
const Column address_columns[] = {{"Name", ASCII_STRING, 16},
                                  {"Family", ASCII_STRING, 16},
                                  {"Address", ASCII_STRING, 46, MASK_ADDRESS},
                                  {"Netmask", ASCII_STRING, 46},
                                  {"Broadcast", ASCII_STRING, 46, MASK_ADDRESS},
                                  {"Interface", ASCII_STRING, 16}};
const Column route_columns[] = {{"Destination", ASCII_STRING, 46, MASK_ADDRESS},
                                {"Gateway", ASCII_STRING, 46, MASK_ADDRESS},
                                {"Netmask", ASCII_STRING, 46},
                                {"Scope", ASCII_STRING, 16},
                                {"Type", ASCII_STRING, 16},
                                {"Interface", ASCII_STRING, 16}};

/// Longest line kept from a text source; the rest of a longer line is dropped.
const size_t MAX_LINE = 65536;

bool readable_regular_file(const char* platform_path) {
  FILE* f = sys_fopen(platform_path, "r");
  if (!f) return false;
  fclose(f);
  return true;
}

}  // namespace

net_probe::net_probe(probe_group* group) : probe(group, "NETWORK", 3, 1) {}

const rtnl_link_info* net_probe::find_interface(int32_t index) const {
  for (const rtnl_link_info& link : interfaces)
    if (link.index == index) return &link;
  return nullptr;
}

bool net_probe::run(FILE* report) {
  interfaces.clear();
  have_stats = false;
  // A capture's recorded answers stand for the kernel's; without them a
  // root's files state what they can.
  bool recorded = replay_active() && replay_has_record(netlink_record_name(RTNL_GET_LINK, AF_INET).c_str());
  if (sysroot_is_set() && !recorded) {
    root_interfaces();
    if (interfaces.empty()) {
      note_not_under_root("Network Interfaces");
    } else {
      interface_tables(report);
    }
    root_addresses(report);
    iptables_tables(report);
    root_routes(report);
    return true;
  }
  have_stats = true;
  if (netlink_buffer* buffer = netlink_open_dump(RTNL_GET_LINK, AF_INET)) {
    rtnl_link_info record;
    while (rtnl_next_link(buffer, &record) == 0) interfaces.push_back(record);
    netlink_close(buffer);
  }
  interface_tables(report);
  address_table(report);
  iptables_tables(report);
  return route_table(report);
}

void net_probe::interface_tables(FILE* report) {
  {
    Table table(report, "Network Interfaces");
    static const Column columns[] = {{"Interface", ASCII_STRING, 16},
                                     {"Type", ASCII_STRING, 16},
                                     {"Address", ASCII_STRING, 32, MASK_ADDRESS},
                                     {"Flags", ASCII_STRING, 130},
                                     {"MTU", INTEGER}};
    table.heading(columns);
    for (const rtnl_link_info& link : interfaces) {
      table.start_row(link.name);
      table.log_data(link.name);
      table.log_data(link.type);
      table.log_data(link.address);
      table.log_data(link.flags);
      table.log_data(static_cast<unsigned long long>(link.mtu));
      table.end_row();
    }
  }
  if (sysroot_is_set() && !have_stats) {
    note_not_under_root("Network Interface Statistics");
    return;
  }
  Table table(report, "Network Interface Statistics");
  static const Column columns[] = {
      {"Name", ASCII_STRING, 16},  {"rx packets", INTEGER}, {"tx packets", INTEGER},
      {"rx bytes", INTEGER},    {"tx bytes", INTEGER},   {"rx errors", INTEGER},
      {"tx errors", INTEGER},   {"rx dropped", INTEGER}, {"tx dropped", INTEGER},
      {"multicast", INTEGER},   {"collisions", INTEGER}};
  table.heading(columns);
  for (const rtnl_link_info& link : interfaces) {
    table.start_row(link.name);
    table.log_data(link.name);
    for (int i = 0; i < RTNL_STAT_REPORTED; i++)
      table.log_data(static_cast<unsigned long long>(link.stats[i]));
    table.end_row();
  }
}

void net_probe::address_table(FILE* report) {
  Table table(report, "Network Addresses");
  table.heading(address_columns);
  // IPv4 first, then IPv6; one dump (and socket) each.
  for (int family : {AF_INET, AF_INET6}) {
    netlink_buffer* buffer = netlink_open_dump(RTNL_GET_ADDR, family);
    if (!buffer) continue;
    rtnl_addr_info record;
    while (rtnl_next_addr(buffer, &record, family) == 0) {
      const rtnl_link_info* link = find_interface(record.index);
      // IPv6 addresses carry no label: the interface names them.
      const char* label = record.label[0] ? record.label : link ? link->name : "";
      table.start_row(label);
      table.log_data(label);
      table.log_data(record.family);
      table.log_data(record.local);
      table.log_data(record.netmask);
      table.log_data(record.broadcast);
      table.log_data(link ? link->name : "unknown");
      table.end_row();
    }
    netlink_close(buffer);
  }
}

// A system whose packet filter is set with nft alone: its rule set, as
// nft lists it, embedded as a file.
void net_probe::nft_ruleset(FILE* report) {
  FILE* pipe = command_open("command -v nft >/dev/null 2>&1 || exit 127; nft list ruleset 2>&1");
  if (!pipe) {
    print_error("nft: popen", errno);
    return;
  }
  // Nothing is embedded when nft is missing: the first line tells.
  int c = fgetc(pipe);
  if (c != EOF) {
    ungetc(c, pipe);
    log_file(report, "nft ruleset", pipe);
  }
  int status = command_close(pipe);
  printd("nft: list ruleset: status %d\n", status);
}

void net_probe::iptables_tables(FILE* report) {
  // The live machine's rules say nothing of a captured system.
  if (!commands_describe_system()) return;
  // Numeric output (no name look-ups) read to its end, so a large rule set
  // neither stalls on DNS nor dies of a closed pipe.
  FILE* probe_pipe = command_open("iptables -L -n 2>&1");
  if (!probe_pipe) {
    print_error("iptables: popen", errno);
    return;
  }
  std::string line, first;
  while (read_line(probe_pipe, line, MAX_LINE))
    if (first.empty()) first = line;
  int status = command_close(probe_pipe);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    printd("iptables: error finding iptables\n");
    // Installed but refused (a normal user): the report says so. Exit 127
    // is the shell's "not found": a system may set its filter with nft alone.
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) != 127) {
      while (!first.empty() && (first.back() == '\n' || first.back() == '\r')) first.pop_back();
      write_incomplete_note(report, "iptables Chains", first.empty() ? "iptables failed" : first.c_str());
    } else {
      nft_ruleset(report);
    }
    return;
  }
  static const Column columns[] = {
      {"Rule Order", INTEGER},        {"No. Packets", INTEGER},      {"No. Bytes", INTEGER},
      {"Target", STRING, 32},            {"Protocol", STRING, 32},         {"Options", STRING, 32},
      {"Input Interface", STRING, 32},   {"Output Interface", STRING, 32}, {"Source", STRING, 64, MASK_ADDRESS},
      {"Destination", STRING, 64, MASK_ADDRESS},       {"Filter", STRING, 128}};
  for (const char* chain : {"INPUT", "FORWARD", "OUTPUT"}) {
    char title[64];
    format_string(title, sizeof title, "iptables %s Chain", chain);
    Table table(report, title);
    table.heading(columns);
    // Exact counts (-x): no unit suffix to lose.
    std::string command = "iptables -L " + shell_quote(chain) + " -n -v -x --line-numbers 2>&1";
    FILE* pipe = command_open(command.c_str());
    if (!pipe) {
      print_error("iptables: popen", errno);
      continue;
    }
    int line_number = 0;
    iptables_rule rule;
    while (read_line(pipe, line, MAX_LINE)) {
      if (++line_number <= 2) continue;  // the chain line and the column heading
      if (!parse_iptables_rule(line.c_str(), &rule)) continue;
      char id[64];
      format_string(id, sizeof id, "%s%lld", chain, rule.number);
      table.start_row(id);
      table.log_data(rule.number);
      table.log_data(rule.packets);
      table.log_data(rule.bytes);
      for (const std::string* text : {&rule.target, &rule.protocol, &rule.options, &rule.input,
                                      &rule.output, &rule.source, &rule.destination, &rule.filter})
        table.log_data(text->c_str());
      table.end_row();
    }
    print_error("iptables: getline", ferror(pipe) ? errno : 0);  // the end of the listing
    command_close(pipe);
  }
}

bool net_probe::route_table(FILE* report) {
  printd("checking network routing table\n");
  Table table(report, "Network Routing Table");
  table.heading(route_columns);
  auto row = [&](const rtnl_route_info& r, const char* gateway, int32_t interface) {
    const rtnl_link_info* link = find_interface(interface);
    table.start_row(r.destination);
    table.log_data(r.destination);
    table.log_data(gateway);
    table.log_data(r.netmask);
    table.log_data(r.scope);
    table.log_data(r.type);
    table.log_data(link ? link->name : "unknown");
    table.end_row();
  };
  // IPv4 first, then IPv6 (its masks in the IPv6 form); a multipath route
  // gives one row per next hop.
  for (int family : {AF_INET, AF_INET6}) {
    netlink_buffer* buffer = netlink_open_dump(RTNL_GET_ROUTE, family);
    if (!buffer) continue;
    static rtnl_route_info record;
    while (rtnl_next_route(buffer, &record, family) == 0) {
      if (record.hop_count == 0) row(record, record.gateway, record.output_interface);
      for (int i = 0; i < record.hop_count && i < RTNL_MAX_HOPS; i++)
        row(record, record.hops[i].gateway, record.hops[i].interface);
      if (record.hop_count > RTNL_MAX_HOPS) printd("net: %d next hops, %d listed\n", record.hop_count, RTNL_MAX_HOPS);
    }
    netlink_close(buffer);
  }
  return true;
}

namespace {

/// The first line of a small file of the root; "" when there is none.
std::string first_line(const std::string& platform_path) {
  std::string line;
  if (FILE* f = sys_fopen_bounded(platform_path.c_str(), 4096)) {
    read_line(f, line, 4096);
    fclose(f);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

}  // namespace

int32_t net_probe::index_of(const std::string& name) {
  for (const rtnl_link_info& link : interfaces)
    if (name == link.name) return link.index;
  // Named only by a list: numbered after the known ones.
  rtnl_link_info link;
  memset(&link, 0, sizeof link);
  link.index = -static_cast<int32_t>(interfaces.size()) - 1;
  format_string(link.name, sizeof link.name, "%s", name.c_str());
  interfaces.push_back(link);
  return link.index;
}

void net_probe::root_interfaces() {
  if (DIR* dir = sys_opendir(platform_path::sys_class_net)) {
    std::vector<std::string> names;
    while (dirent* d = readdir(dir))
      if (d->d_name[0] != '.' && strlen(d->d_name) < sizeof interfaces[0].name) names.push_back(d->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::string base = std::string(platform_path::sys_class_net) + "/" + name + "/";
      std::string index = first_line(base + "ifindex");
      if (index.empty()) continue;
      rtnl_link_info link;
      memset(&link, 0, sizeof link);
      link.index = static_cast<int32_t>(strtol(index.c_str(), nullptr, 10));
      format_string(link.name, sizeof link.name, "%s", name.c_str());
      rtnl_link_type(static_cast<int>(strtol(first_line(base + "type").c_str(), nullptr, 10)), link.type,
                     sizeof link.type);
      format_string(link.address, sizeof link.address, "%s", first_line(base + "address").c_str());
      link.mtu = static_cast<uint32_t>(strtoul(first_line(base + "mtu").c_str(), nullptr, 10));
      rtnl_link_flags(static_cast<unsigned>(strtoul(first_line(base + "flags").c_str(), nullptr, 16)), link.flags,
                      sizeof link.flags);
      interfaces.push_back(link);
    }
  }
  if (FILE* f = sys_fopen_bounded(platform_path::proc_net_dev, 16u << 20)) {
    std::string line, name;
    uint64_t stats[RTNL_STAT_REPORTED];
    while (read_line(f, line, MAX_LINE)) {
      if (!parse_net_dev_line(line.c_str(), &name, stats)) continue;
      int32_t index = index_of(name);
      for (rtnl_link_info& link : interfaces)
        if (link.index == index) memcpy(link.stats, stats, sizeof stats);
      have_stats = true;
    }
    fclose(f);
  }
}

void net_probe::root_addresses(FILE* report) {
  // The root's files state its IPv6 addresses only.
  note_not_under_root("IPv4 Network Addresses");
  FILE* f = sys_fopen_bounded(platform_path::proc_net_if_inet6, 16u << 20);
  if (!f) {
    note_not_under_root("Network Addresses");
    return;
  }
  Table table(report, "Network Addresses");
  table.heading(address_columns);
  std::string line, name;
  rtnl_addr_info record;
  while (read_line(f, line, MAX_LINE)) {
    if (!parse_if_inet6_line(line.c_str(), &record, &name)) continue;
    table.start_row(name.c_str());
    table.log_data(name.c_str());
    table.log_data(record.family);
    table.log_data(record.local);
    table.log_data(record.netmask);
    table.log_data(record.broadcast);
    table.log_data(name.c_str());
    table.end_row();
  }
  fclose(f);
}

void net_probe::root_routes(FILE* report) {
  FILE* files[2] = {sys_fopen_bounded(platform_path::proc_net_route, 16u << 20),
                    sys_fopen_bounded(platform_path::proc_net_ipv6_route, 16u << 20)};
  if (!files[0] && !files[1]) {
    note_not_under_root("Network Routing Table");
    return;
  }
  Table table(report, "Network Routing Table");
  table.heading(route_columns);
  for (int i = 0; i < 2; i++) {
    if (!files[i]) continue;
    std::string line, name;
    static rtnl_route_info record;
    while (read_line(files[i], line, MAX_LINE)) {
      if (!(i == 0 ? parse_net_route_line : parse_ipv6_route_line)(line.c_str(), &record, &name)) continue;
      table.start_row(record.destination);
      table.log_data(record.destination);
      table.log_data(record.gateway);
      table.log_data(record.netmask);
      table.log_data(record.scope);
      table.log_data(record.type);
      table.log_data(name.c_str());
      table.end_row();
    }
    fclose(files[i]);
  }
}

hosts_probe::hosts_probe(probe_group* group) : probe(group, "Hosts", 2, 1) {}

bool hosts_probe::test() { return readable_regular_file(platform_path::etc_hosts); }

bool hosts_probe::run(FILE* report) {
  Table table(report, "Hosts File");
  table.set_row_kind(MASK_HOST);
  static const Column columns[] = {{"IP", STRING, 64, MASK_ADDRESS}, {"Hostname", STRING, 128, MASK_HOST}};
  table.heading(columns);
  FILE* f = sys_fopen(platform_path::etc_hosts, "r");
  if (!f) {
    print_error("hosts: fopen", errno);
    return true;
  }
  std::string line;
  hosts_entry entry;
  while (read_line(f, line, MAX_LINE)) {
    if (line.empty() || line[0] == '#') continue;
    if (!parse_hosts_line(line.c_str(), &entry)) continue;
    for (const std::string& name : entry.names) {
      table.start_row(name.c_str());
      table.log_data(entry.address.c_str());
      table.log_data(name.c_str());
      table.end_row();
    }
  }
  print_error("hosts: getline", ferror(f) ? errno : 0);
  fclose(f);
  return true;
}

resolv_probe::resolv_probe(probe_group* group) : probe(group, "Resolver Configuration", 2, 1) {}

bool resolv_probe::test() { return readable_regular_file(platform_path::etc_resolv_conf); }

bool resolv_probe::run(FILE* report) {
  Table table(report, "Resolver Configuration");
  table.set_row_kind(MASK_DOMAIN);
  static const Column columns[] = {{"Option", STRING, 64}, {"Value", STRING, 128, MASK_DOMAIN}};
  table.heading(columns);
  FILE* f = sys_fopen(platform_path::etc_resolv_conf, "r");
  if (!f) {
    print_error("resolv: fopen", errno);
    return true;
  }
  std::string line;
  std::vector<std::string> values;
  while (read_line(f, line, MAX_LINE)) {
    resolv_option option = parse_resolv_line(line.c_str(), &values);
    const char* text = option == RESOLV_SEARCH       ? "Host-name lookup search domain"
                       : option == RESOLV_NAMESERVER ? "DNS Name Server"
                                                     : nullptr;
    if (!text) continue;
    for (const std::string& value : values) {
      table.start_row(value.c_str());
      table.log_data(text);
      table.log_data(value.c_str());
      table.end_row();
    }
  }
  print_error("resolv: getline", ferror(f) ? errno : 0);
  fclose(f);
  return true;
}

char* get_ws_domain(char* buffer, int size) {
  if (buffer && size > 0) buffer[0] = '\0';
  return buffer;
}
