// net_route_linux.cpp - IPv4 route records and their names.
#include "net_route_linux.h"

#include <sys/socket.h>

#include <cstring>

#include "debug.h"
#include "net_addr_linux.h"
#include "util_string.h"

int rtnl_parse_route(const unsigned char* body, size_t length, rtnl_route_info* record) {
  memset(record, 0, sizeof *record);
  // rtmsg: family, destination length, source length, tos, table, protocol,
  // scope, type, flags (32).
  const size_t fixed = 12;
  if (length < fixed) return -1;
  int family = body[0];
  int destination_length = body[1];
  record->table = body[4];
  if (family == AF_INET6)
    rtnl_netmask6(destination_length, record->netmask, sizeof record->netmask);
  else
    rtnl_netmask(destination_length, record->netmask, sizeof record->netmask);
  rtnl_route_protocol(body[5], record->protocol, sizeof record->protocol);
  rtnl_route_scope(body[6], record->scope, sizeof record->scope);
  rtnl_route_type(body[7], record->type, sizeof record->type);
  size_t pos = fixed;
  rtnl_attr a;
  while (rtnl_next_attr(body, length, &pos, &a)) {
    switch (a.type) {
      case 1:
        rtnl_format_address(family, a.data, a.length, record->destination, sizeof record->destination);
        break;
      case 2:
        rtnl_format_address(family, a.data, a.length, record->source, sizeof record->source);
        break;
      case 3:
        record->input_interface = static_cast<int32_t>(rtnl_attr_u32(a));
        break;
      case 4:
        record->output_interface = static_cast<int32_t>(rtnl_attr_u32(a));
        break;
      case 5:
        rtnl_format_address(family, a.data, a.length, record->gateway, sizeof record->gateway);
        break;
      case 7:
        rtnl_format_address(family, a.data, a.length, record->preferred_source,
                            sizeof record->preferred_source);
        break;
      case 8:
        record->metrics = rtnl_attr_u32(a);
        break;
      case 9:  // multipath: rtnexthop records (length, flags, hops, index), each with attributes
        for (size_t at = 0; at + 8 <= a.length;) {
          uint16_t hop_length;
          memcpy(&hop_length, a.data + at, 2);
          if (hop_length < 8 || hop_length > a.length - at) break;
          if (record->hop_count < RTNL_MAX_HOPS) {
            rtnl_next_hop& hop = record->hops[record->hop_count];
            memcpy(&hop.interface, a.data + at + 4, 4);
            size_t inner = 8;
            rtnl_attr h;
            while (rtnl_next_attr(a.data + at, hop_length, &inner, &h))
              if (h.type == 5) rtnl_format_address(family, h.data, h.length, hop.gateway, sizeof hop.gateway);
          }
          record->hop_count++;
          at += (hop_length + 3u) & ~3u;
        }
        break;
    }
  }
  if (destination_length == 0) format_string(record->destination, sizeof record->destination, "default");
  return 0;
}

int rtnl_next_route(netlink_buffer* buffer, rtnl_route_info* record, int family) {
  const unsigned char* body;
  size_t length;
  memset(record, 0, sizeof *record);
  // A message shorter than its fixed body is skipped: the dump goes on, and
  // only its end (or an error) ends it, for good.
  for (;;) {
    int got = netlink_next_body(buffer, RTNL_GET_ROUTE, family, RTNL_NEW_ROUTE, &body, &length);
    if (got != 0) return got;
    if (rtnl_parse_route(body, length, record) == 0) return 0;
    printd("net: route message of %zu bytes skipped\n", length);
  }
}

char* rtnl_route_protocol(int protocol, char* out, size_t size) {
  static const char* const names[] = {"none", "redirect", "kernel", "boot", "static"};
  if (protocol >= 0 && protocol <= 4) return format_string(out, static_cast<int>(size), "%s", names[protocol]);
  return format_string(out, static_cast<int>(size), "unknown %d", protocol);
}

char* rtnl_route_scope(int scope, char* out, size_t size) {
  const char* name = scope == 0 ? "universe" : scope == 253 ? "link" : scope == 254 ? "host" : nullptr;
  if (name) return format_string(out, static_cast<int>(size), "%s", name);
  return format_string(out, static_cast<int>(size), "%d", scope);
}

char* rtnl_route_type(int type, char* out, size_t size) {
  static const char* const names[] = {"unicast", "local",  "broadcast", "anycast",
                                      "multicast", "drop", "unreachable", "prohibited",
                                      "throw",   "nat",    "external"};
  if (type >= 1 && type <= 11) return format_string(out, static_cast<int>(size), "%s", names[type - 1]);
  return format_string(out, static_cast<int>(size), "%#0x", static_cast<unsigned>(type));
}
