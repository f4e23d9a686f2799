// mask_test.cpp - privacy masking: HMAC-SHA-256 against the published test
// vectors, the token of each kind and the scanner's patterns as a table of
// cases, stability of tokens, and masked report cells whose checksums hold.
#include "mask.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "getarg.h"
#include "harness.h"
#include "report_check.h"
#include "report_fixture.h"
#include "table.h"
#include "xml.h"

namespace {

std::string unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

std::string hex(const uint8_t* p, size_t n) {
  std::string out;
  char b[3];
  for (size_t i = 0; i < n; ++i) snprintf(b, sizeof b, "%02x", p[i]), out += b;
  return out;
}

struct MaskOn {
  MaskOn(const std::string& key = "test key") { mask_enable_with_key(key.data(), key.size()); }
  ~MaskOn() { mask_disable(); }
};

}  // namespace

TEST(Mask, HmacSha256MatchesTheRfc4231Vectors) {
  auto rep = [](char c, size_t n) { return std::string(n, c); };
  struct vec {
    int number;
    std::string key, data, mac;  // mac: hex, possibly truncated (case 5)
  };
  const std::vector<vec> cases = {
      {1, rep('\x0b', 20), "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {2, "Jefe", "what do ya want for nothing?", "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {3, rep('\xaa', 20), rep('\xdd', 50), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {4, unhex("0102030405060708090a0b0c0d0e0f10111213141516171819"), rep('\xcd', 50),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {5, rep('\x0c', 20), "Test With Truncation", "a3b6167473100ee06e0c796c2955552b"},
      {6, rep('\xaa', 131), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {7, rep('\xaa', 131),
       "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
       "hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  for (const vec& v : cases) {
    uint8_t out[32];
    hmac_sha256(v.key.data(), v.key.size(), v.data.data(), v.data.size(), out);
    EXPECT_EQ(hex(out, v.mac.size() / 2), v.mac) << "test case " << v.number;
  }
  uint8_t d[32];
  sha256("abc", 3, d);
  EXPECT_EQ(hex(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Mask, KindsAndPatternsAsATableOfCases) {
  MaskOn on;
  struct item {
    mask_kind kind;  // MASK_NONE: the free-text scanner
    std::string in;
    std::string shape;  // regular expression of the whole result
  };
  const std::vector<item> cases = {
      {MASK_SERIAL, "CZC1234XYZ", "serial-[0-9a-f]{6}"},
      {MASK_SERIAL, "  CZC1234XYZ \n", "serial-[0-9a-f]{6}"},
      {MASK_SERIAL, "", ""},
      {MASK_SERIAL, "To Be Filled By O.E.M.", "To Be Filled By O\\.E\\.M\\."},  // no serial at all
      {MASK_UUID, "Not Present", "Not Present"},
      {MASK_HOST, "db7.corp.example", "host-[0-9a-f]{6}"},
      {MASK_DOMAIN, "corp.example", "domain-[0-9a-f]{6}"},
      {MASK_USER, "alice", "user-[0-9a-f]{6}"},
      {MASK_USER, "root", "root"},  // every system has it
      {MASK_GROUP, "developers", "group-[0-9a-f]{6}"},
      {MASK_HOME, "/home/alice", "home-[0-9a-f]{6}"},
      {MASK_UUID, "4C4C4544-0042-3510-8052-B3C04F4B4E31", "uuid-[0-9a-f]{6}"},
      {MASK_UUID, "Not Settable", "uuid-[0-9a-f]{6}"},
      {MASK_MAC, "00:1A:2b:3c:4d:5e", "mac-[0-9a-f][0c48]:[0-9a-f]{2}(:[0-9a-f]{2}){4}"},
      {MASK_MAC, "02:1a:2b:3c:4d:5e", "mac-[0-9a-f][26ae]:[0-9a-f]{2}(:[0-9a-f]{2}){4}"},  // local bit kept
      {MASK_MAC, "00:00:00:00:00:00", "00:00:00:00:00:00"},
      {MASK_ADDRESS, "192.168.10.17/24", "ip-192\\.x\\.x\\.[0-9a-f]{6}/24"},
      {MASK_ADDRESS, "10.0.0.1, 10.0.0.2", "ip-10\\.x\\.x\\.[0-9a-f]{6}, ip-10\\.x\\.x\\.[0-9a-f]{6}"},
      {MASK_IPV4, "255.255.255.0", "255\\.255\\.255\\.0"},  // a netmask says nothing
      {MASK_IPV4, "127.0.0.1", "127\\.0\\.0\\.1"},
      {MASK_IPV6, "fe80::21a:2bff:fe3c:4d5e/64", "ip6-fe80:x:[0-9a-f]{6}/64"},
      {MASK_IPV6, "2001:db8:0:0:1:0:0:1", "ip6-2001:x:[0-9a-f]{6}"},
      {MASK_IPV6, "::1", "::1"},
      {MASK_NONE, "link/ether 00:1a:2b:3c:4d:5e brd ff:ff:ff:ff:ff:ff",
       "link/ether mac-[0-9a-f]{2}(:[0-9a-f]{2}){5} brd ff:ff:ff:ff:ff:ff"},
      {MASK_NONE, "HWaddr:00:1a:2b:3c:4d:5e", "HWaddr:mac-[0-9a-f]{2}(:[0-9a-f]{2}){5}"},
      {MASK_NONE, "hw 00-1A-2B-3C-4D-5E.", "hw mac-[0-9a-f]{2}(:[0-9a-f]{2}){5}\\."},
      {MASK_NONE, "inet 172.16.4.9/16 and fe80::1%eth0.", "inet ip-172\\.x\\.x\\.[0-9a-f]{6}/16 and ip6-fe80:x:[0-9a-f]{6}%eth0\\."},
      {MASK_NONE, "addr=[2001:db8::7]:22", "addr=\\[ip6-2001:x:[0-9a-f]{6}\\]:22"},
      {MASK_NONE, "UUID=0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0 / ext4", "UUID=uuid-[0-9a-f]{6} / ext4"},
      // Not values: versions, times, bus addresses, eight-byte identifiers, words.
      {MASK_NONE, "version 1.2.3.4.5 at 12:30:45", "version 1\\.2\\.3\\.4\\.5 at 12:30:45"},
      {MASK_NONE, "pci 0000:00:1f.2 wwn 50:01:43:80:12:34:56:78", "pci 0000:00:1f\\.2 wwn 50:01:43:80:12:34:56:78"},
      {MASK_NONE, "face cafe 1.2.3 x10.1.1.1", "face cafe 1\\.2\\.3 x10\\.1\\.1\\.1"},
      // Names met in cells above are cleaned from free text, as whole words.
      {MASK_NONE, "login alice from db7.corp.example, alicex", "login user-[0-9a-f]{6} from host-[0-9a-f]{6}, alicex"},
      {MASK_NONE, "cat /home/alice/.profile", "cat home-[0-9a-f]{6}/\\.profile"},
      {MASK_NONE, "serial CZC1234XYZ;", "serial serial-[0-9a-f]{6};"},
  };
  for (const item& c : cases) {
    std::string out = c.kind == MASK_NONE ? mask_text(c.in) : mask_value(c.kind, c.in);
    EXPECT_TRUE(std::regex_match(out, std::regex(c.shape))) << mask_kind_name(c.kind) << " \"" << c.in << "\" -> \"" << out << "\"";
    // A token is never masked again.
    EXPECT_EQ(mask_text(out), out) << out;
  }
}

TEST(Mask, TokensAreStablePerKeyAndTheSameForOneValue) {
  std::string a, b;
  {
    MaskOn on("k1");
    a = mask_value(MASK_SERIAL, "SN-42") + mask_text(" 00:1A:2B:3C:4D:5E 10.1.2.3");
    EXPECT_EQ(mask_text("00-1a-2b-3c-4d-5e"), mask_text("00:1A:2B:3C:4D:5E"));  // one address, two spellings
    // One value, one hex part, whatever kind it is met as.
    std::string host = mask_value(MASK_HOST, "node42x");
    EXPECT_EQ(host.substr(5), mask_value(MASK_SERIAL, "node42x").substr(7));
    std::string list = mask_value(MASK_USER, "alice, bob2,carol");  // a group's members
    EXPECT_EQ(list, mask_value(MASK_USER, "alice") + ", " + mask_value(MASK_USER, "bob2") + "," +
                        mask_value(MASK_USER, "carol"));
    EXPECT_EQ(mask_value(MASK_DOMAIN, "10.1.2.3"), mask_text("10.1.2.3"));  // a name server
  }
  {
    MaskOn on("k1");
    b = mask_value(MASK_SERIAL, "SN-42") + mask_text(" 00:1A:2B:3C:4D:5E 10.1.2.3");
  }
  EXPECT_EQ(a, b);
  MaskOn other("k2");
  EXPECT_NE(mask_value(MASK_SERIAL, "SN-42"), a.substr(0, 13));
  mask_disable();
  EXPECT_EQ(mask_value(MASK_SERIAL, "SN-42"), "SN-42");
  EXPECT_EQ(mask_text("10.1.2.3"), "10.1.2.3");
}

TEST(Mask, StreamKeepsValuesWholeAcrossPieces) {
  MaskOn on;
  // One long line without line ends: pieces end between values.
  std::string in;
  while (in.size() < 200000) in += "host 10.20.30.40 mac 00:1a:2b:3c:4d:5e ";
  FILE* src = tmpfile();
  FILE* dst = tmpfile();
  ASSERT_TRUE(src && dst);
  fwrite(in.data(), 1, in.size(), src);
  rewind(src);
  ASSERT_TRUE(mask_stream(src, dst));
  std::string out(static_cast<size_t>(ftell(dst)), '\0');
  rewind(dst);
  ASSERT_EQ(fread(&out[0], 1, out.size(), dst), out.size());
  fclose(src);
  fclose(dst);
  EXPECT_EQ(out, mask_text(in));
  EXPECT_EQ(out.find("30.40"), std::string::npos);
  EXPECT_EQ(out.find("4d:5e"), std::string::npos);
}

using MaskTable = ReportWriterTest;

TEST_F(MaskTable, DeclaredColumnsAreMaskedAndChecksumsHoldOverTheMaskedText) {
  auto render = [](bool kinds) {
    mem_stream out;
    {
      Table t(out.get(), "Adapters");
      t.set_row_kind(kinds ? MASK_MAC : MASK_NONE);
      const Column columns[] = {{"Name", STRING},
                                {"MAC Address", STRING, 0, kinds ? MASK_MAC : MASK_NONE},
                                {"Host", STRING, 0, kinds ? MASK_HOST : MASK_NONE}};
      t.heading(columns);
      t.start_row("00:1a:2b:3c:4d:5e");
      t.log_data("eth0");
      t.log_data("00:1a:2b:3c:4d:5e");
      t.log_wide_data(L"db7");
      t.end_row();
    }
    return out.text();
  };
  for (output_format_type f : {OUTPUT_TEXT, OUTPUT_XML, OUTPUT_ZVML, OUTPUT_HTML}) {
    Table::set_output_format(f);
    EXPECT_EQ(render(true), render(false)) << "masking off: declaring kinds changes nothing, format " << f;
  }
  Table::set_output_format(OUTPUT_ZVML);
  output_checksum = 0;
  MaskOn on;
  std::string body = render(true);
  EXPECT_EQ(body.find("4d:5e"), std::string::npos) << body;
  EXPECT_EQ(body.find("db7"), std::string::npos) << body;
  EXPECT_NE(body.find("host-"), std::string::npos) << body;
  if (!have_xml_parser()) return;
  char chk[16];
  snprintf(chk, sizeof chk, "%8X", (unsigned)output_checksum);
  zvml_check_result r = check_zvml("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<GATHERED_DATA>\r\n" +
                                   body + "<CHK>" + chk + "</CHK>\r\n</GATHERED_DATA>\r\n");
  ASSERT_TRUE(r.parsed) << r.error;
  EXPECT_TRUE(r.mismatches.empty()) << r.mismatches[0];
}

TEST(Mask, WordsOfTheCommandLineAndPropertiesSwitchItOn) {
  zvtest::temp_dir dir;
  ASSERT_TRUE(zvtest::write_file(dir.path(), "/key", "secret"));
  const std::string path = dir.file("key");
  std::wstring key(path.begin(), path.end());
  wchar_t name[] = L"maskkey";
  gatherer_parse_property(name, &key[0]);  // "maskkey=FILE" in a properties file
  ASSERT_TRUE(mask_enabled());
  std::string with_file = mask_value(MASK_SERIAL, "SN1");
  mask_enable_with_key("secret", 6);
  EXPECT_EQ(mask_value(MASK_SERIAL, "SN1"), with_file);  // the file's bytes are the key
  mask_disable();
  // A key file that cannot be read still masks, with a random key.
  std::wstring missing = key + L".gone";
  gatherer_parse_common(L"maskkey", missing.c_str());
  EXPECT_TRUE(mask_enabled());
  EXPECT_NE(mask_value(MASK_SERIAL, "SN1"), with_file);
  mask_disable();
  gatherer_parse_common(L"mask", nullptr);
  EXPECT_TRUE(mask_enabled());
  EXPECT_EQ(mask_value(MASK_SERIAL, "SN1").size(), 13u);
  mask_disable();
}
