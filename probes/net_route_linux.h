// net_route_linux.h - IPv4 route records from a routing netlink dump.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net_link_linux.h"

/// One next hop of a multipath route.
struct rtnl_next_hop {
  char gateway[47];
  int32_t interface;
};
const int RTNL_MAX_HOPS = 16;

/// One route.
struct rtnl_route_info {
  char protocol[17];
  char scope[17];
  char type[17];
  char destination[47];
  char source[47];
  char gateway[47];
  char netmask[47];
  char preferred_source[47];
  int32_t input_interface;
  int32_t output_interface;
  uint32_t metrics;
  int table;
  /// The next hops of a multipath route (none for a single path); hops past
  /// RTNL_MAX_HOPS are counted in hop_count but not kept.
  int hop_count;
  rtnl_next_hop hops[RTNL_MAX_HOPS];
};

/// Parses a new-route message body into a cleared record; 0, or -1 when the
/// body is shorter than its fixed part.
int rtnl_parse_route(const unsigned char* body, size_t length, rtnl_route_info* record);
/// The next route of the dump: 0 when filled, 1 at the end, negative on error.
/// `family`: 2 (IPv4, the default) or 10 (IPv6); a buffer dumps one family.
int rtnl_next_route(netlink_buffer* buffer, rtnl_route_info* record, int family = 2);

char* rtnl_route_protocol(int protocol, char* out, size_t size);
char* rtnl_route_scope(int scope, char* out, size_t size);
char* rtnl_route_type(int type, char* out, size_t size);
