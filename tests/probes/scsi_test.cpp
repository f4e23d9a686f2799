// scsi_test.cpp - the SCSI and optical tables over fake generic nodes that
// answer from recorded bytes (tests/fixtures/scsi/*.txt), and the system
// transport on a machine root without devices.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <scsi/sg.h>
#include <set>
#include <sstream>

#include "capture.h"
#include "report_check.h"
#include "report_fixture.h"
#include "scsi.h"
#include "scsi_linux.h"
#include "scsi_probe.h"
#include "smbios_root.h"

namespace {

using rows = std::vector<std::vector<std::string>>;

/// Generic and class nodes that behave as the driver does, from a fixture.
class fake_nodes : public scsi_node_io {
 public:
  struct node {
    bool read_write = true;
    unsigned dev_id = 0, unique = 0;
    int bus = 0;
    std::map<std::string, std::vector<unsigned char>> answers;
    std::map<std::string, std::vector<int>> status;  // target, driver, sense key
  };
  std::map<std::string, node> nodes;
  std::map<std::string, rows> expected;
  std::set<int> open_fds;
  std::set<unsigned char> opcodes;
  std::vector<std::string> faults;

  explicit fake_nodes(const std::string& file) {
    std::ifstream in(file);
    std::string line, title;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string verb, path, key;
      words >> verb;
      if (verb.empty() || verb[0] == '#') continue;
      if (verb == "expect") {
        title = line.substr(7);
        expected[title];
        continue;
      }
      if (!title.empty()) {
        std::vector<std::string> cells;
        std::istringstream cut(line + "|");
        for (std::string c; std::getline(cut, c, '|');) cells.push_back(c);
        expected[title].push_back(cells);
        continue;
      }
      words >> path;
      node& n = nodes[path];
      if (verb == "node") {
        words >> std::hex >> n.dev_id >> std::dec >> n.unique >> n.bus;
      } else if (verb == "readonly") {
        n.read_write = false;
      } else if (verb == "answer") {
        words >> key;
        for (unsigned b; words >> std::hex >> b;) n.answers[key].push_back(static_cast<unsigned char>(b));
      } else if (verb == "status") {
        words >> key;
        for (int v; words >> v;) n.status[key].push_back(v);
      }
    }
  }

  int open_node(const char* path, bool read_write) override {
    auto it = nodes.find(path);
    if (it == nodes.end() || (read_write && !it->second.read_write)) {
      errno = it == nodes.end() ? ENOENT : EACCES;
      return -1;
    }
    int fd = next_fd++;
    fd_node[fd] = &it->second;
    open_fds.insert(fd);
    return fd;
  }
  void close_node(int fd) override {
    if (!open_fds.erase(fd)) faults.push_back("close of a descriptor not open");
  }
  int get_idlun(int fd, unsigned* dev_id, unsigned* unique) override {
    node* n = at(fd);
    if (!n) return -1;
    *dev_id = n->dev_id;
    *unique = n->unique;
    return 0;
  }
  int get_bus_number(int fd, int* bus) override {
    node* n = at(fd);
    if (!n) return -1;
    *bus = n->bus;
    return 0;
  }
  ssize_t write_node(int fd, const void* data, size_t length) override {
    node* n = at(fd);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    sg_header h;
    if (!n || length <= sizeof h) return -1;
    memcpy(&h, p, sizeof h);
    if (h.pack_len != static_cast<int>(length)) faults.push_back("pack_len is not the length written");
    opcodes.insert(p[sizeof h]);
    char key[8];
    snprintf(key, sizeof key, p[sizeof h] == 0x12 && (p[sizeof h + 1] & 1) ? "%02x/%02x" : "%02x", p[sizeof h],
             p[sizeof h + 2]);
    pending_key = key;
    pending_length = h.reply_len;
    return static_cast<ssize_t>(length);
  }
  ssize_t read_node(int fd, void* data, size_t length) override {
    node* n = at(fd);
    if (!n || length != pending_length) return -1;
    std::vector<unsigned char> reply(length, 0);
    sg_header h;
    memset(&h, 0, sizeof h);
    auto answer = n->answers.find(pending_key);
    std::vector<int> st = {1, 8, 5};  // no answer recorded: ILLEGAL REQUEST
    if (answer != n->answers.end()) {
      st = n->status.count(pending_key) ? n->status[pending_key] : std::vector<int>{0, 0, 0};
      memcpy(reply.data() + sizeof h, answer->second.data(), std::min(answer->second.size(), length - sizeof h));
    }
    h.target_status = st[0] & 0x1F;
    h.driver_status = st[1] & 0xFF;
    h.sense_buffer[2] = static_cast<unsigned char>(st[2]);
    memcpy(reply.data(), &h, sizeof h);
    memcpy(data, reply.data(), length);
    return static_cast<ssize_t>(length);
  }

 private:
  node* at(int fd) {
    if (!open_fds.count(fd)) {
      faults.push_back("operation on descriptor " + std::to_string(fd) + " which is not open");
      return nullptr;
    }
    return fd_node[fd];
  }
  int next_fd = 100;
  std::map<int, node*> fd_node;
  std::string pending_key;
  size_t pending_length = 0;
};

std::string fixture(const std::string& name) { return std::string(ZV_SOURCE_DIR) + "/tests/fixtures/scsi/" + name; }

template <class P>
std::string render(P& p, bool* ran) {
  mem_stream out;
  *ran = p.test() && p.run(out.get());
  fflush(out.get());
  return out.text();
}

class ScsiTest : public ReportWriterTest {
 protected:
  void SetUp() override {
    ReportWriterTest::SetUp();
    Table::set_output_format(OUTPUT_TEXT);
  }
  void TearDown() override {
    scsi_probe::discard();
    scsi_set_node_io(nullptr);
    ReportWriterTest::TearDown();
  }
};

}  // namespace

// Each machine is read directly, and captured then replayed from the
// capture's records alone (the fake nodes gone): the tables are the same.
TEST_F(ScsiTest, RecordedMachinesGiveTheirTablesWithOnlyReadCommandsAndEveryDescriptorClosed) {
  for (std::string name : {"machine.txt", "alphabetic.txt", "machine.txt replayed", "alphabetic.txt replayed"}) {
    SCOPED_TRACE(name);
    bool replayed = name.size() > 9 && name.compare(name.size() - 9, 9, " replayed") == 0;
    fake_nodes fake(fixture(name.substr(0, name.find(' '))));
    smbios_test::temp_root capture;
    std::string why;
    scsi_recording_io recorder(fake);
    std::unique_ptr<smbios_test::scoped_sysroot> use;
    if (replayed) {
      // The capture: every probe's commands answered by the fake and kept.
      ASSERT_TRUE(capture_set_dir(capture.path().c_str(), &why) && capture_begin(&why)) << why;
      scsi_set_node_io(&recorder);
      probe_group group("SCSI Devices", 16, "SCSI Devices");
      scsi_table devices(&group);
      optical_table optical(&group);
      optical_table_uc2 combined(&group);
      bool ran;
      render(devices, &ran), render(optical, &ran), render(combined, &ran);
      scsi_probe::discard();
      capture_reset();
      use.reset(new smbios_test::scoped_sysroot(capture));
      ASSERT_TRUE(replay_load(&why)) << why;
      ASSERT_TRUE(replay_active());
      fake.opcodes.clear();
    }
    scsi_set_node_io(replayed ? nullptr : &fake);
    probe_group group("SCSI Devices", 16, "SCSI Devices");
    scsi_table devices(&group);
    optical_table optical(&group);
    optical_table_uc2 combined(&group);
    bool ran;
    std::string text = render(devices, &ran);
    EXPECT_TRUE(ran);
    EXPECT_EQ(smbios_test::text_table(text, "SCSI Devices"), fake.expected["SCSI Devices"]) << text;
    bool has_optical = fake.expected.count("Optical Drive Capabilities") > 0;
    text = render(optical, &ran);
    EXPECT_EQ(ran, has_optical);
    EXPECT_EQ(smbios_test::text_table(text, "Optical Drive Capabilities"), fake.expected["Optical Drive Capabilities"]);
    if (has_optical) {
      text = render(combined, &ran);
      EXPECT_EQ(smbios_test::text_table(text, "Optical Drive Capabilities"), fake.expected["Optical Drive Capabilities 2"]);
    }
    scsi_probe::discard();
    EXPECT_TRUE(fake.open_fds.empty());
    EXPECT_EQ(fake.faults, std::vector<std::string>());
    for (unsigned char op : fake.opcodes) EXPECT_TRUE(op == 0x12 || op == 0x25 || op == 0x9E || op == 0x5A) << int(op);
    EXPECT_EQ(fake.opcodes.count(0x5A), replayed || !has_optical ? 0u : 1u);
    capture_reset();
  }
}

// A record is read whole or refused at the line at fault.
TEST(ScsiRecords, DamagedRecordsAreRefusedAtTheirLine) {
  const std::string reply(2 * (SG_HEADER_SIZE + 2), 'a');
  const struct {
    std::string text;
    const char* why;  ///< "" when read
  } cases[] = {
      {"idlun 7 0\nbus 2\ncommand 120000000400 2 " + reply + "\ncommand 250000 8 error 5\n", ""},
      {"idlun error 25\nbus error 25\n", ""},
      {"idlun 7\n", "line 1"},
      {"bus 1\ncommand 12 2 " + reply.substr(2) + "\n", "line 2"},     // answer cut short
      {"command 12 2 " + reply, "line 1"},                               // no line feed
      {"command 120000000000000000000000000000000012 2 " + reply + "\n", "line 1"},  // CDB of 17 bytes
      {"command 12 2 error 0\n", "line 1"},
      {"command 1g 2 " + reply + "\n", "line 1"},
      {"reset\n", "line 1"},
  };
  for (const auto& c : cases) {
    scsi_record r;
    std::string why;
    EXPECT_EQ(scsi_parse_record(c.text, &r, &why), !*c.why) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
  }
}

TEST_F(ScsiTest, NoDevicesUnderTheSystemRootMeansNoTablesAndNoWriteToAPlainFile) {
  smbios_test::temp_root root;
  ASSERT_TRUE(root.write("dev/sg0", std::string("not a device")));
  smbios_test::scoped_sysroot use(root);
  probe_group group("SCSI Devices", 16, "SCSI Devices");
  scsi_table devices(&group);
  optical_table optical(&group);
  EXPECT_FALSE(devices.test());
  EXPECT_FALSE(optical.test());
  EXPECT_EQ(zvtest::read_file(root.file("dev/sg0")), "not a device");
}

TEST(ScsiDecoders, AnswersOfAnyLengthStayInsideTheirBytes) {
  const unsigned char standard[8] = {0, 0x80, 5, 2, 0x1F, 0, 0, 0};
  struct {
    std::vector<unsigned char> answer;
    int out_size;
    std::string serial;
  } serials[] = {
      {{0, 0x80, 0, 4, 'A', 'B', 'C', 'D'}, 16, "ABCD"},
      {{0, 0x80, 0, 255, 'A', 'B', 'C'}, 16, "ABC"},          // count beyond the bytes returned
      {{0, 0x80, 0, 8, 'A', 'B', 'C', 'D', 'E', 'F'}, 4, "ABC"},  // and beyond the caller's buffer
      {{0, 0x80, 0, 2, 0x1F, 'X'}, 16, ""},                   // standard data: EVPD ignored
      {{0, 0x83, 0, 2, 'X', 'Y'}, 16, ""},
      {{0, 0x80, 0}, 16, ""},
  };
  for (const auto& c : serials) {
    std::vector<unsigned char> exact(c.answer);  // no slack behind the answer for ASan
    char out[16];
    scsi_decode_serial(exact.data(), static_cast<int>(exact.size()), standard, sizeof standard, out, c.out_size);
    EXPECT_EQ(out, c.serial);
  }
  unsigned caps = 7;
  const unsigned char no_page[24] = {0, 0x1E};
  EXPECT_EQ(scsi_decode_mode_sense(no_page, sizeof no_page, &caps), 1);
  EXPECT_EQ(caps, 0u);
  uint32_t last, block;
  EXPECT_FALSE(scsi_decode_capacity10(standard, 7, &last, &block));
  sg_reply_status s = {};
  struct { int target, driver, sense; bool ok; } statuses[] = {
      {0, 0, 0, true}, {1, 0, 1, true}, {0x11, 0, 1, true}, {0, 8, 0x21, true}, {1, 8, 6, false}, {0x04, 0, 1, false}};
  for (const auto& c : statuses) {
    s.target_status = c.target;
    s.driver_status = c.driver;
    s.sense[2] = static_cast<unsigned char>(c.sense);
    EXPECT_EQ(sg_status_ok(s), c.ok) << c.target << " " << c.driver << " " << c.sense;
  }
}
