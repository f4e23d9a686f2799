// net_files_linux.cpp - the kernel's network files of a system root.
#include "net_files_linux.h"

#include <sys/socket.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util_string.h"

namespace {

/// Hex digits into `size` bytes, in the order written; false unless whole.
bool hex_bytes(const std::string& text, unsigned char* out, size_t size) {
  if (text.size() != size * 2) return false;
  for (size_t i = 0; i < size; i++) {
    unsigned value;
    if (!isxdigit(static_cast<unsigned char>(text[2 * i])) || !isxdigit(static_cast<unsigned char>(text[2 * i + 1])) ||
        sscanf(text.c_str() + 2 * i, "%2x", &value) != 1)
      return false;
    out[i] = static_cast<unsigned char>(value);
  }
  return true;
}

/// The blank-separated words of a line.
std::vector<std::string> words_of(const char* line) {
  std::vector<std::string> words;
  for (const char* p = line; *p;) {
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    if (p > start) words.emplace_back(start, p);
  }
  return words;
}

bool hex_number(const std::string& text, unsigned long* value) {
  if (text.empty() || text.size() > 8) return false;
  char* end = nullptr;
  *value = strtoul(text.c_str(), &end, 16);
  return *end == '\0' && isxdigit(static_cast<unsigned char>(text[0]));
}

bool interface_name(const std::string& text, std::string* name) {
  if (text.empty() || text.size() > 16) return false;
  *name = text;
  return true;
}

const unsigned ROUTE_GATEWAY = 0x2, ROUTE_REJECT = 0x200;

void route_kind(unsigned long flags, rtnl_route_info* record) {
  // Scope 0 (universe) through a gateway, 253 (link) without; type 1
  // (unicast) or 7 (unreachable).
  rtnl_route_scope(flags & ROUTE_GATEWAY ? 0 : 253, record->scope, sizeof record->scope);
  rtnl_route_type(flags & ROUTE_REJECT ? 7 : 1, record->type, sizeof record->type);
}

}  // namespace

bool parse_net_dev_line(const char* line, std::string* name, uint64_t* stats) {
  const char* colon = strchr(line, ':');
  if (!colon) return false;
  std::string head(line, colon);
  std::vector<std::string> words = words_of(colon + 1), names = words_of(head.c_str());
  if (names.size() != 1 || words.size() < 16 || !interface_name(names[0], name)) return false;
  uint64_t n[16];
  for (int i = 0; i < 16; i++) {
    char* end = nullptr;
    n[i] = strtoull(words[i].c_str(), &end, 10);
    if (*end || !isdigit(static_cast<unsigned char>(words[i][0]))) return false;
  }
  // rx: bytes packets errs drop fifo frame compressed multicast; tx: bytes
  // packets errs drop fifo colls carrier compressed.
  const uint64_t ordered[RTNL_STAT_REPORTED] = {n[1], n[9], n[0], n[8], n[2], n[10], n[3], n[11], n[7], n[13]};
  memcpy(stats, ordered, sizeof ordered);
  return true;
}

bool parse_if_inet6_line(const char* line, rtnl_addr_info* record, std::string* name) {
  memset(record, 0, sizeof *record);
  // address index prefix scope flags name
  std::vector<std::string> w = words_of(line);
  unsigned char address[16];
  unsigned long index, prefix;
  if (w.size() != 6 || !hex_bytes(w[0], address, 16) || !hex_number(w[1], &index) || !hex_number(w[2], &prefix) ||
      prefix > 128 || index > INT32_MAX || !interface_name(w[5], name))
    return false;
  record->index = static_cast<int32_t>(index);
  record->prefix = static_cast<int>(prefix);
  rtnl_address_family(AF_INET6, record->family, sizeof record->family);
  rtnl_format_address(AF_INET6, address, 16, record->local, sizeof record->local);
  rtnl_netmask6(record->prefix, record->netmask, sizeof record->netmask);
  return true;
}

bool parse_net_route_line(const char* line, rtnl_route_info* record, std::string* name) {
  memset(record, 0, sizeof *record);
  // Iface Destination Gateway Flags RefCnt Use Metric Mask ...: addresses as
  // the host's 32-bit number, in hex.
  std::vector<std::string> w = words_of(line);
  unsigned long destination, gateway, flags, mask, metric;
  if (w.size() < 8 || !interface_name(w[0], name) || !hex_number(w[1], &destination) ||
      !hex_number(w[2], &gateway) || !hex_number(w[3], &flags) || !hex_number(w[7], &mask))
    return false;
  char* end = nullptr;
  metric = strtoul(w[6].c_str(), &end, 10);
  if (*end) return false;
  record->metrics = static_cast<uint32_t>(metric);
  uint32_t values[3] = {static_cast<uint32_t>(destination), static_cast<uint32_t>(gateway), static_cast<uint32_t>(mask)};
  char* texts[3] = {record->destination, record->gateway, record->netmask};
  for (int i = 0; i < 3; i++) {
    unsigned char bytes[4];
    memcpy(bytes, &values[i], 4);
    rtnl_format_address(AF_INET, bytes, 4, texts[i], sizeof record->destination);
  }
  if (!(flags & ROUTE_GATEWAY)) record->gateway[0] = '\0';
  if (destination == 0 && mask == 0) format_string(record->destination, sizeof record->destination, "default");
  route_kind(flags, record);
  return true;
}

bool parse_ipv6_route_line(const char* line, rtnl_route_info* record, std::string* name) {
  memset(record, 0, sizeof *record);
  // destination prefix source prefix gateway metric refcount use flags name
  std::vector<std::string> w = words_of(line);
  unsigned char destination[16], gateway[16];
  unsigned long prefix, metric, flags;
  if (w.size() != 10 || !hex_bytes(w[0], destination, 16) || !hex_number(w[1], &prefix) || prefix > 128 ||
      !hex_bytes(w[4], gateway, 16) || !hex_number(w[5], &metric) || !hex_number(w[8], &flags) ||
      !interface_name(w[9], name))
    return false;
  record->metrics = static_cast<uint32_t>(metric);
  rtnl_format_address(AF_INET6, destination, 16, record->destination, sizeof record->destination);
  if (prefix == 0) format_string(record->destination, sizeof record->destination, "default");
  rtnl_netmask6(static_cast<int>(prefix), record->netmask, sizeof record->netmask);
  if (flags & ROUTE_GATEWAY) rtnl_format_address(AF_INET6, gateway, 16, record->gateway, sizeof record->gateway);
  route_kind(flags, record);
  return true;
}
