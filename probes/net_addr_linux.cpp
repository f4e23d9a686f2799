// net_addr_linux.cpp - IPv4 address records and their names.
#include "net_addr_linux.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

#include "debug.h"
#include "util_string.h"

int rtnl_parse_addr(const unsigned char* body, size_t length, rtnl_addr_info* record) {
  memset(record, 0, sizeof *record);
  // ifaddrmsg: family, prefix length, flags, scope, index (32).
  const size_t fixed = 8;
  if (length < fixed) return -1;
  int family = body[0];
  record->prefix = body[1];
  memcpy(&record->index, body + 4, sizeof record->index);
  rtnl_address_family(family, record->family, sizeof record->family);
  if (family == AF_INET6)
    rtnl_netmask6(record->prefix, record->netmask, sizeof record->netmask);
  else
    rtnl_netmask(record->prefix, record->netmask, sizeof record->netmask);
  size_t pos = fixed;
  rtnl_attr a;
  while (rtnl_next_attr(body, length, &pos, &a)) {
    switch (a.type) {
      case 1:  // address: the peer's on IPv4, the address itself on IPv6 (no local one there)
        if (family == AF_INET6 && !record->local[0])
          rtnl_format_address(family, a.data, a.length, record->local, sizeof record->local);
        break;
      case 2:  // local address
        rtnl_format_address(family, a.data, a.length, record->local, sizeof record->local);
        break;
      case 3:  // label
        rtnl_attr_text(a, record->label, sizeof record->label);
        break;
      case 4:  // broadcast
        rtnl_format_address(family, a.data, a.length, record->broadcast, sizeof record->broadcast);
        break;
    }
  }
  return 0;
}

int rtnl_next_addr(netlink_buffer* buffer, rtnl_addr_info* record, int family) {
  const unsigned char* body;
  size_t length;
  memset(record, 0, sizeof *record);
  // A message shorter than its fixed body is skipped: the dump goes on, and
  // only its end (or an error) ends it, for good.
  for (;;) {
    int got = netlink_next_body(buffer, RTNL_GET_ADDR, family, RTNL_NEW_ADDR, &body, &length);
    if (got != 0) return got;
    if (rtnl_parse_addr(body, length, record) == 0) return 0;
    printd("net: addr message of %zu bytes skipped\n", length);
  }
}

char* rtnl_address_family(int family, char* out, size_t size) {
  const char* name = family == AF_INET ? "inet" : family == AF_INET6 ? "inet6" : "unknown";
  return format_string(out, static_cast<int>(size), "%s", name);
}

char* rtnl_netmask(int prefix, char* out, size_t size) {
  if (prefix < 0) prefix = 0;
  if (prefix > 32) prefix = 32;
  uint32_t mask = prefix ? 0xFFFFFFFFu << (32 - prefix) : 0;
  return format_string(out, static_cast<int>(size), "%u.%u.%u.%u", mask >> 24, (mask >> 16) & 255,
                       (mask >> 8) & 255, mask & 255);
}

char* rtnl_netmask6(int prefix, char* out, size_t size) {
  if (prefix < 0) prefix = 0;
  if (prefix > 128) prefix = 128;
  unsigned char mask[16] = {};
  for (int i = 0; i < prefix; i++) mask[i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
  char text[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, mask, text, sizeof text)) text[0] = '\0';
  return format_string(out, static_cast<int>(size), "%s", text);
}
