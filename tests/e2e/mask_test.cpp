// mask_test.cpp - a masked run of a fixture machine leaks none of its
// serials, UUIDs, addresses or names into any byte of what it leaves (the
// container, every item extracted from it, the file names, the debug log),
// and two runs with one key give the same tokens.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "smbios_root.h"

namespace {

using smbios_test::bytes;

/// The raw values of the fixture machine, each as it appears in a source.
const std::vector<std::string> RAW = {
    "ZX9LEAK77Q",     "MBSER55871",   "CHS-LEAK-4411", "ASSET-LEAK-9021",  // serials, asset tag
    "4C4C4544-0042-3510-8052-B3C04F4B4E31", "4c4c4544-0042-3510-8052-b3c04f4b4e31",
    "leakhost-db7",   "corp-leak.example", "fileserver-leak",                // host and domain names
    "10.44.55.66",    "192.168.77.88", "10.99.88.77", "fd12:3456:789a::17",   // addresses
    "00:1a:2b:3c:4d:5e", "00:1A:2B:3C:4D:5E",
    "leakuser1",      "otherleak",    "leakgroup",  "/home/leakuser1"};       // accounts

void build_machine(const smbios_test::temp_root& root) {
  smbios_test::table_builder t;
  // System: vendor, model, version, serial, UUID (stored mixed-endian), wake-up type.
  t.add(1, {1, 2, 3, 4, 0x44, 0x45, 0x4C, 0x4C, 0x42, 0x00, 0x10, 0x35, 0x80, 0x52, 0xB3, 0xC0, 0x4F, 0x4B, 0x4E,
            0x31, 6},
        {"LeakVendor", "LeakModel", "v1", "ZX9LEAK77Q"});
  t.add(2, {1, 2, 3, 4}, {"LeakVendor", "LeakBoard", "v2", "MBSER55871"});
  t.add(3, {1, 3, 2, 3, 4, 3, 3, 3, 3}, {"LeakVendor", "v3", "CHS-LEAK-4411", "ASSET-LEAK-9021"});
  t.end();
  ASSERT_TRUE(smbios_test::write_sysfs_tables(root, smbios_test::dump_of(t.data())));
  const std::vector<std::pair<std::string, std::string>> files = {
      {"/proc/sys/kernel/hostname", "leakhost-db7\n"},
      {"/proc/sys/kernel/osrelease", "5.10.0-test\n"},
      {"/etc/os-release", "NAME=\"Test Linux\"\nVERSION_ID=\"1\"\n"},
      {"/etc/hosts", "127.0.0.1 localhost\n10.44.55.66 leakhost-db7.corp-leak.example leakhost-db7\n"
                     "192.168.77.88 fileserver-leak\nfd12:3456:789a::17 fileserver-leak\n"},
      {"/etc/resolv.conf", "search corp-leak.example\nnameserver 10.99.88.77\n"},
      {"/etc/passwd", "root:x:0:0:root:/root:/bin/bash\nleakuser1:x:1000:1000:L:/home/leakuser1:/bin/bash\n"},
      {"/etc/group", "root:x:0:\nleakgroup:x:1000:leakuser1,otherleak\n"},
      {"/var/log/messages", "Dec  9 10:00:00 leakhost-db7 kernel: eth0 00:1A:2B:3C:4D:5E up, 10.44.55.66 "
                            "fd12:3456:789a::17\nDec  9 10:00:01 leakhost-db7 sshd: login leakuser1 from "
                            "fileserver-leak (192.168.77.88) home /home/leakuser1 serial ZX9LEAK77Q\n"},
      {"/var/log/boot.log", "eth0: hwaddr 00-1a-2b-3c-4d-5e; dns 10.99.88.77; domain corp-leak.example\n"},
      {"/etc/network/interfaces", "iface eth0 inet static\n  address 10.44.55.66\n  hwaddress 00:1a:2b:3c:4d:5e\n"},
  };
  for (const auto& f : files) ASSERT_TRUE(root.write(f.first, f.second)) << f.first;
}

std::string tool() { return std::string(ZV_BINARY_DIR) + "/zv2tool"; }

/// Every byte a masked run left in cwd: each file, and each item of each
/// container as extracted by the receiving tool; with their names.
std::string everything_left(const zvtest::temp_dir& cwd, std::string* reports) {
  std::string all;
  zvtest::temp_dir scratch;
  for (const std::string& name : zvtest::list_dir(cwd.path())) {
    all += name + "\n" + zvtest::read_file(cwd.file(name));
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".ZV2") != 0) continue;
    zvtest::run_options o;
    o.program = tool();
    o.args = {"list", cwd.file(name)};
    zvtest::run_result list = zvtest::run_program(o);
    EXPECT_EQ(list.status, 0) << list.err;
    size_t colon = list.out.find(": ");
    int count = colon == std::string::npos ? 0 : atoi(list.out.c_str() + colon + 2);
    EXPECT_GE(count, 3) << list.out;
    for (int i = 0; i < count; ++i) {
      std::string out = scratch.file("item" + std::to_string(i));
      o.args = {"extract", cwd.file(name), std::to_string(i), out};
      zvtest::run_result r = zvtest::run_program(o);
      EXPECT_EQ(r.status, 0) << r.err;
      std::string data = zvtest::read_file(out);
      all += data;
      if (data.find("<TABLE ID=") != std::string::npos) *reports += data;
    }
    o.args = {"verify", cwd.file(name)};
    zvtest::run_result v = zvtest::run_program(o);
    EXPECT_EQ(v.status, 0) << "checksums over the masked text\n" << v.out << v.err;
  }
  return all;
}

std::set<std::string> tokens(const std::string& text) {
  std::set<std::string> out;
  std::regex token("\\b(serial|uuid|host|domain|user|group|home|ip|ip6)-[0-9a-fx.:]+|mac-[0-9a-f:]{17}");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), token); it != std::sregex_iterator(); ++it)
    out.insert(it->str());
  return out;
}

}  // namespace

TEST(MaskE2E, MaskedRunLeaksNoRawValueAndOneKeyGivesTheSameTokens) {
  smbios_test::temp_root root;
  build_machine(root);
  zvtest::temp_dir keydir;
  ASSERT_TRUE(zvtest::write_file(keydir.path(), "/key", "a key kept by the customer\n"));
  // A report to import: its own checksums forbid cleaning it, so it stays out.
  ASSERT_TRUE(zvtest::write_file(keydir.path(), "/old.zvml", "<TABLE ID=\"T\"><STR>ZX9LEAK77Q</STR></TABLE>\n"));
  std::set<std::string> seen[2];
  std::string names[2];
  for (int run = 0; run < 2; ++run) {
    zvtest::temp_dir cwd;
    zvtest::run_options o;
    o.args = {"-batch", "-debug", "-level", "4", "-sysroot", root.path(), "-maskkey", keydir.file("key"),
              "-zvmlfile", keydir.file("old.zvml")};
    o.cwd = cwd.path();
    zvtest::run_result r = zvtest::run_program(o);
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_NE(r.err.find("Left out: cannot be masked"), std::string::npos) << r.err;
    std::string reports;
    std::string all = everything_left(cwd, &reports) + r.out + r.err;
    ASSERT_FALSE(reports.empty()) << r.err;
    EXPECT_NE(reports.find("<FILE ID="), std::string::npos) << "the logs were embedded";
    for (const std::string& raw : RAW) {
      size_t at = all.find(raw);
      EXPECT_EQ(at, std::string::npos) << "run " << run << ": " << raw << " in\n"
                                       << all.substr(at < 300 ? 0 : at - 300, 400);
    }
    // The values were there to be masked, and the report says what was masked.
    EXPECT_NE(reports.find("serial-"), std::string::npos);
    EXPECT_NE(reports.find("uuid-"), std::string::npos);
    EXPECT_NE(reports.find("host-"), std::string::npos);
    EXPECT_NE(reports.find("user-"), std::string::npos);
    EXPECT_NE(reports.find("home-"), std::string::npos);
    EXPECT_NE(reports.find("ip-10.x.x."), std::string::npos);
    EXPECT_NE(reports.find("on: serial uuid mac ip ip6 host domain user group home"), std::string::npos);
    seen[run] = tokens(reports);
    for (const std::string& n : zvtest::list_dir(cwd.path())) names[run] += n + "\n";
  }
  EXPECT_FALSE(seen[0].empty());
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(names[0], names[1]);
}
