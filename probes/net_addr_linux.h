// net_addr_linux.h - IPv4 address records from a routing netlink dump.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net_link_linux.h"

/// One address.
struct rtnl_addr_info {
  int32_t index;
  int prefix;
  char family[17];
  char label[17];
  char local[47];
  char netmask[47];
  char broadcast[47];
};

/// Parses a new-address message body into a cleared record; 0, or -1 when
/// the body is shorter than its fixed part.
int rtnl_parse_addr(const unsigned char* body, size_t length, rtnl_addr_info* record);
/// The next address of the dump: 0 when filled, 1 at the end, negative on error.
/// `family`: 2 (IPv4, the default) or 10 (IPv6); a buffer dumps one family.
int rtnl_next_addr(netlink_buffer* buffer, rtnl_addr_info* record, int family = 2);

char* rtnl_address_family(int family, char* out, size_t size);
/// The IPv4 mask of `prefix` leading one bits (a prefix above 32 counts as 32).
char* rtnl_netmask(int prefix, char* out, size_t size);
/// The IPv6 mask of `prefix` leading one bits, in the address form
/// ("ffff:ffff:ffff:ffff::" for 64; a prefix above 128 counts as 128).
char* rtnl_netmask6(int prefix, char* out, size_t size);
