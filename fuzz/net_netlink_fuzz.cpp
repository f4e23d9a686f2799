// net_netlink_fuzz.cpp - the three routing netlink record parsers on an
// arbitrary datagram: every dump ends, and every text field ends inside its
// buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net_addr_linux.h"
#include "net_link_linux.h"
#include "net_route_linux.h"

namespace {

template <size_t N>
void check_text(const char (&field)[N]) {
  if (strnlen(field, N) >= N) abort();
}

netlink_buffer* buffer_of(const uint8_t* data, size_t size) {
  netlink_buffer* b = new netlink_buffer;  // no socket: the end of the bytes ends the dump
  b->data.assign(data, data + size);
  b->received = size;
  b->sequence = size ? data[size - 1] % 3 : 1;  // sometimes ours, sometimes not
  if (b->sequence == 0) b->sequence = 1;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  netlink_buffer* b = buffer_of(data, size);
  rtnl_link_info link;
  for (int n = 0; rtnl_next_link(b, &link) == 0; n++) {
    if (n > 1 << 16) abort();
    check_text(link.name), check_text(link.type), check_text(link.address), check_text(link.flags);
  }
  delete b;

  b = buffer_of(data, size);
  rtnl_addr_info addr;
  for (int n = 0; rtnl_next_addr(b, &addr) == 0; n++) {
    if (n > 1 << 16) abort();
    check_text(addr.family), check_text(addr.label), check_text(addr.local), check_text(addr.netmask),
        check_text(addr.broadcast);
  }
  delete b;

  b = buffer_of(data, size);
  rtnl_route_info route;
  for (int n = 0; rtnl_next_route(b, &route) == 0; n++) {
    if (n > 1 << 16) abort();
    check_text(route.protocol), check_text(route.scope), check_text(route.type), check_text(route.destination),
        check_text(route.source), check_text(route.gateway), check_text(route.netmask),
        check_text(route.preferred_source);
  }
  delete b;

  // The bodies straight into the parsers, without a header.
  rtnl_parse_link(data, size, &link);
  rtnl_parse_addr(data, size, &addr);
  rtnl_parse_route(data, size, &route);
  check_text(link.address), check_text(addr.local), check_text(route.gateway);
  return 0;
}
