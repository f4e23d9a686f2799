// net_netlink_fuzz.cpp - the three routing netlink record parsers on an
// arbitrary datagram: every dump ends, and every text field ends inside its
// buffer. The same bytes as a capture's record of a dump: it is read whole
// or refused, and a record found whole replays to its end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net_addr_linux.h"
#include "net_link_linux.h"
#include "net_route_linux.h"

namespace {

template <size_t N>
void check(const char (&field)[N]) {
  if (strnlen(field, N) >= N) abort();
}
void check(const rtnl_link_info& r) { check(r.name), check(r.type), check(r.address), check(r.flags); }
void check(const rtnl_addr_info& r) {
  check(r.family), check(r.label), check(r.local), check(r.netmask), check(r.broadcast);
}
void check(const rtnl_route_info& r) {
  check(r.protocol), check(r.scope), check(r.type), check(r.destination), check(r.source), check(r.gateway),
      check(r.netmask), check(r.preferred_source);
  if (r.hop_count < 0) abort();
  for (int i = 0; i < r.hop_count && i < RTNL_MAX_HOPS; i++) check(r.hops[i].gateway);
}

/// Parses the bytes as one dump (no socket: their end ends it) and checks
/// every record; then the bytes as one message body.
template <class Record>
void drain(const uint8_t* data, size_t size, int (*next)(netlink_buffer*, Record*),
           int (*parse)(const unsigned char*, size_t, Record*)) {
  netlink_buffer b;
  b.data.assign(data, data + size);
  b.received = size;
  b.sequence = size && data[size - 1] % 3 ? data[size - 1] % 3 : 1;  // sometimes ours, sometimes not
  Record r;
  for (int n = 0; next(&b, &r) == 0; n++) {
    if (n > 1 << 16) abort();
    check(r);
  }
  if (next(&b, &r) == 0) abort();  // an ended dump stays ended
  if (parse(data, size, &r) == 0) check(r);
}

/// The bytes as a recorded dump: checked, then replayed as the probe does.
void replay_record(const uint8_t* data, size_t size) {
  if (size == 0) return;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return;
  std::string why;
  bool whole = netlink_record_check(f, &why);
  if (!whole && why.empty()) abort();  // a refusal says why
  rewind(f);
  netlink_buffer b;
  b.replay = f;
  b.sequence = 1;
  size_t messages = 0;
  while (netlink_record_next(f, &b, &why) == 0) {
    if (b.received < 16 || b.received > b.data.size() || b.received > size) abort();
    if (++messages > size / 16) abort();
  }
  rewind(f);
  rtnl_link_info r;
  for (int n = 0; rtnl_next_link(&b, &r) == 0; n++) {
    if (n > 1 << 16) abort();
    check(r);
  }
  b.replay = nullptr;
  fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  replay_record(data, size);
  drain(data, size, rtnl_next_link, rtnl_parse_link);
  // Both families: an IPv6 dump formats its masks and addresses otherwise.
  for (int family : {2, 10}) {
    static int f;
    f = family;
    drain<rtnl_addr_info>(
        data, size, [](netlink_buffer* b, rtnl_addr_info* r) { return rtnl_next_addr(b, r, f); }, rtnl_parse_addr);
    drain<rtnl_route_info>(
        data, size, [](netlink_buffer* b, rtnl_route_info* r) { return rtnl_next_route(b, r, f); }, rtnl_parse_route);
  }
  return 0;
}
