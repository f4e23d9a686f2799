// net_test.cpp - the network parsers on recorded routing netlink answers,
// damaged copies of them, and hosts, resolver and rule-listing texts; each
// fixture's expected rows are in tests/fixtures/net/expected.tsv. The live
// socket is tested end to end (tests/e2e/net_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "net_addr_linux.h"
#include "net_conf_linux.h"
#include "net_link_linux.h"
#include "net_route_linux.h"

namespace {

const std::string dir = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/net/";
using rows = std::vector<std::string>;

std::string join(std::initializer_list<std::string> cells) {
  std::string s;
  for (const std::string& c : cells) s += (s.empty() ? "" : "|") + c;
  return s;
}

/// Every record of a dump held in bytes, then "end <last result>".
rows dump_rows(const std::string& kind, const std::string& bytes) {
  netlink_buffer buffer;
  buffer.data.assign(bytes.begin(), bytes.end());
  buffer.received = bytes.size();
  buffer.sequence = 1;  // the recorder's request
  rows out;
  int got;
  for (;;) {
    if (kind == "links") {
      rtnl_link_info l;
      if ((got = rtnl_next_link(&buffer, &l)) != 0) break;
      std::string stats;
      for (int i = 0; i < RTNL_STAT_REPORTED; i++) stats += (i ? " " : "") + std::to_string(l.stats[i]);
      out.push_back(join({std::to_string(l.index), l.name, l.type, l.address, l.flags, std::to_string(l.mtu), stats}));
    } else if (kind == "addrs") {
      rtnl_addr_info a;
      if ((got = rtnl_next_addr(&buffer, &a)) != 0) break;
      out.push_back(join({std::to_string(a.index), a.label, a.family, a.local, a.netmask, a.broadcast}));
    } else {
      rtnl_route_info r;
      if ((got = rtnl_next_route(&buffer, &r)) != 0) break;
      out.push_back(join({r.destination, r.gateway, r.netmask, r.scope, r.type, std::to_string(r.output_interface),
                          r.protocol, std::to_string(r.table), r.preferred_source}));
    }
  }
  out.push_back("end " + std::to_string(got < 0 ? -1 : got));
  return out;
}

/// Applies "offset:hexbytes,offset:hexbytes" to a copy of the bytes.
std::string patched(std::string bytes, const std::string& patches) {
  std::stringstream list(patches);
  std::string patch;
  while (std::getline(list, patch, ',')) {
    size_t colon = patch.find(':');
    size_t at = std::stoul(patch.substr(0, colon));
    std::string hex = patch.substr(colon + 1);
    if (hex == "cut") {
      bytes.resize(at);
      continue;
    }
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.at(at + i / 2) = (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  }
  return bytes;
}

rows text_rows(const std::string& kind, const std::string& text) {
  rows out;
  std::stringstream lines(text);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    n++;
    if (kind == "hosts") {
      hosts_entry e;
      if (line.empty() || line[0] == '#' || !parse_hosts_line(line.c_str(), &e)) continue;
      for (const std::string& name : e.names) out.push_back(join({e.address, name}));
    } else if (kind == "resolv") {
      std::vector<std::string> values;
      resolv_option o = parse_resolv_line(line.c_str(), &values);
      for (const std::string& v : values) out.push_back(join({std::to_string(o), v}));
    } else if (n > 2) {
      iptables_rule r;
      if (!parse_iptables_rule(line.c_str(), &r)) continue;
      out.push_back(join({std::to_string(r.number), std::to_string(r.packets), std::to_string(r.bytes), r.target,
                          r.protocol, r.options, r.input, r.output, r.source, r.destination, r.filter}));
    }
  }
  return out;
}

TEST(NetParsers, RecordedAnswersDamagedCopiesAndTextsGiveTheExpectedRows) {
  // expected.tsv: "= case kind file [patches]" opens a case; its rows follow.
  std::ifstream expected(dir + "expected.tsv");
  ASSERT_TRUE(expected.good());
  std::vector<std::pair<std::string, rows>> cases;
  std::string line;
  while (std::getline(expected, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("= ", 0) == 0) cases.push_back({line.substr(2), {}});
    else if (!cases.empty()) cases.back().second.push_back(line);
  }
  ASSERT_GE(cases.size(), 10u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::stringstream words(c.first);
    std::string name, kind, file, patches;
    words >> name >> kind >> file >> patches;
    std::string bytes = zvtest::read_file(dir + file);
    ASSERT_FALSE(bytes.empty()) << file;
    rows got = kind == "links" || kind == "addrs" || kind == "routes" ? dump_rows(kind, patched(bytes, patches))
                                                                     : text_rows(kind, bytes);
    std::string all;
    for (const std::string& r : got) all += r + "\n";
    EXPECT_EQ(got, c.second) << all;
  }
}

TEST(NetParsers, NameTablesAndFieldBounds) {
  char buf[160];
  const size_t flags_size = sizeof(rtnl_link_info{}.flags);
  const struct {
    std::string got, want;
  } cases[] = {
      {rtnl_link_flags(0x1 | 0x2 | 0x40 | 0x1000, buf, sizeof buf), "UP RUNNING BROADCAST MULTICAST"},
      {rtnl_link_flags(0, buf, sizeof buf), ""},
      {rtnl_link_flags(0xFFFF, buf, flags_size),
       "UP RUNNING LOOPBACK BROADCAST POINTOPOINT MULTICAST NOARP ALLMULTI PROMISC MASTER SLAVE DEBUG DYNAMIC "
       "AUTOMEDIA PORTSEL NOTRAILERS"},
      {rtnl_link_type(801, buf, sizeof buf), "ieee802.11"},
      {rtnl_link_type(65534, buf, sizeof buf), "none"},
      {rtnl_link_type(65533, buf, sizeof(rtnl_link_info{}.type)), "uknown type 65533"},
      {rtnl_netmask6(64, buf, 47), "ffff:ffff:ffff:ffff::"},
      {rtnl_netmask6(65, buf, 47), "ffff:ffff:ffff:ffff:8000::"},
      {rtnl_netmask6(0, buf, 47), "::"},
      {rtnl_netmask6(300, buf, 47), "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {rtnl_netmask(0, buf, sizeof buf), "0.0.0.0"},
      {rtnl_netmask(23, buf, sizeof buf), "255.255.254.0"},
      {rtnl_netmask(200, buf, sizeof buf), "255.255.255.255"},
      {rtnl_route_protocol(186, buf, sizeof buf), "unknown 186"},
      {rtnl_route_type(12, buf, sizeof buf), "0xc"},
      // Eight bytes fill the 25-byte address field; more are cut at a whole byte.
      {rtnl_link_address((const unsigned char*)"\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9, buf, 25),
       "01:02:03:04:05:06:07:08"},
      {rtnl_format_address(2, (const unsigned char*)"\x0a\x00", 2, buf, 47), ""},
      {rtnl_format_address(10, (const unsigned char*)"\xfe\x80\0\0\0\0\0\0\0\0\0\0\0\0\0\x01", 16, buf, 47), "fe80::1"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

// An IPv6 route with two next hops, as the kernel words it: one rtnexthop
// record (length, flags, hops, interface index) per hop, each with its
// gateway attribute; a damaged hop length ends the list.
TEST(NetParsers, MultipathRoutesListEachNextHop) {
  auto attr = [](int type, const std::string& data) {
    std::string a(4, '\0');
    uint16_t len = static_cast<uint16_t>(4 + data.size()), t = static_cast<uint16_t>(type);
    memcpy(&a[0], &len, 2);
    memcpy(&a[2], &t, 2);
    a += data;
    a.resize((a.size() + 3) & ~size_t(3), '\0');
    return a;
  };
  auto hop = [&](int32_t index, const std::string& gateway) {
    std::string h(8, '\0'), g = attr(5, gateway);
    uint16_t len = static_cast<uint16_t>(8 + g.size());
    memcpy(&h[0], &len, 2);
    memcpy(&h[4], &index, 4);
    return h + g;
  };
  const std::string fe80_1("\xfe\x80\0\0\0\0\0\0\0\0\0\0\0\0\0\x01", 16);
  const std::string fe80_2("\xfe\x80\0\0\0\0\0\0\0\0\0\0\0\0\0\x02", 16);
  // rtmsg: family 10, destination length 48, table 254, protocol boot, scope universe, type unicast.
  std::string body("\x0a\x30\0\0\xfe\x03\0\x01\0\0\0\0", 12);
  body += attr(1, std::string("\x20\x01\x0d\xb8\0\x07", 6) + std::string(10, '\0'));
  std::string hops = hop(3, fe80_1) + hop(4, fe80_2);
  rtnl_route_info r;
  ASSERT_EQ(rtnl_parse_route((const unsigned char*)(body + attr(9, hops)).data(), body.size() + 4 + hops.size(), &r), 0);
  EXPECT_EQ(std::string(r.destination), "2001:db8:7::");
  EXPECT_EQ(std::string(r.netmask), "ffff:ffff:ffff::");
  ASSERT_EQ(r.hop_count, 2);
  EXPECT_EQ(std::string(r.hops[0].gateway), "fe80::1");
  EXPECT_EQ(r.hops[0].interface, 3);
  EXPECT_EQ(std::string(r.hops[1].gateway), "fe80::2");
  EXPECT_EQ(r.hops[1].interface, 4);
  std::string damaged = hops;
  damaged[0] = 100;  // a hop longer than the attribute
  const std::string whole = body + attr(9, damaged);
  ASSERT_EQ(rtnl_parse_route((const unsigned char*)whole.data(), whole.size(), &r), 0);
  EXPECT_EQ(r.hop_count, 0);
}

}  // namespace
