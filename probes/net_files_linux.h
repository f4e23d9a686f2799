// net_files_linux.h - interfaces, addresses and routes as a system root's own
// kernel files state them (its /proc/net and /sys/class/net), for a root the
// running kernel's routing netlink knows nothing of.
#pragma once

#include <cstdint>
#include <string>

#include "net_addr_linux.h"
#include "net_link_linux.h"
#include "net_route_linux.h"

/// A line of /proc/net/dev: the interface's name and its counters in the
/// order of rtnl_link_info::stats (the first RTNL_STAT_REPORTED). False for
/// a heading or anything else.
bool parse_net_dev_line(const char* line, std::string* name, uint64_t* stats);
/// A line of /proc/net/if_inet6 (an IPv6 address): the record, with the
/// interface's index, and the interface's name. False when it is not one.
bool parse_if_inet6_line(const char* line, rtnl_addr_info* record, std::string* name);
/// A line of /proc/net/route (an IPv4 route, numbers in hex); false for the
/// heading or anything else.
bool parse_net_route_line(const char* line, rtnl_route_info* record, std::string* name);
/// A line of /proc/net/ipv6_route; false when it is not one.
bool parse_ipv6_route_line(const char* line, rtnl_route_info* record, std::string* name);
