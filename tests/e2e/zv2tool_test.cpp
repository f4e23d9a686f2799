// zv2tool_test.cpp - the container reader program on good, stuffed and malformed containers.
#include "zvtest.h"

#include "container_items.h"
#include "gthfile.h"
#include "channels.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Zv2Tool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(access(tool().c_str(), X_OK), 0) << "zv2tool not built"; }
  static std::string tool() { return std::string(ZV_BINARY_DIR) + "/zv2tool"; }
  std::string P(const std::string& name) const { return dir.file(name); }
  Bytes Slurp(const std::string& name) const {
    std::string s = zvtest::read_file(P(name));
    return Bytes(s.begin(), s.end());
  }
  void Spit(const std::string& name, const Bytes& data) const {
    ASSERT_TRUE(zvtest::write_file(dir.path(), name, std::string(data.begin(), data.end())));
  }
  zvtest::run_result Tool(std::vector<std::string> args) const {
    zvtest::run_options o;
    o.program = tool();
    o.args = std::move(args);
    o.cwd = dir.path();
    zvtest::run_result r = zvtest::run_program(o);
    if (!r.exited) r.status = -1;
    return r;
  }

  // A container of five items: XML report (coded), identification block
  // (stored), collected file of noise (stored: does not shrink), text
  // report (coded) and an item of a type the program never writes.
  void BuildSample() {
    items_.assign(5, Bytes());
    // A checksummed report of empty sections: verify reads it too.
    auto put = [this](const char* text) { items_[0].insert(items_[0].end(), text, text + strlen(text)); };
    put("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<GATHERED_DATA>\r\n");
    for (int i = 0; i < 2650; i++) put("<SECTION ID=\"pci\">\r\n<CHK>       0</CHK>\r\n</SECTION>\r\n");
    put("<CHK>       0</CHK>\r\n</GATHERED_DATA>\r\n");
    const char* id = "@V=Vendor\n@M=Model\n@S=1234\n";
    items_[1].assign(id, id + strlen(id));
    unsigned x = 12345;
    for (int i = 0; i < 5000; i++) items_[2].push_back(uint8_t((x = x * 1103515245 + 12345) >> 16));
    items_[3].assign(items_[0].begin(), items_[0].begin() + 9000);
    items_[4] = {0, 0, 0, 0xFF};
    const uint8_t types[] = {15, 1, 66, 254, 77};
    const bool coded[] = {true, false, true, true, false};
    GatherFile g;
    ASSERT_EQ(g.CreateFile(P("c.zv2").c_str()), 0);
    for (int i = 0; i < 5; i++) {
      Spit("in", items_[i]);
      ASSERT_EQ(g.AddItemFile(types[i], P("in").c_str(), coded[i]), 0);
      unlink(P("in").c_str());
    }
  }

  zvtest::temp_dir dir;
  std::vector<Bytes> items_;
};

TEST_F(Zv2Tool, ListsEveryItemWithWhatItHoldsAndItsSizes) {
  BuildSample();
  zvtest::run_result r = Tool({"list", "c.zv2"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* row : {"5 items", "    0   15  XML report               compressed       140563",
                          "    1    1  identification block     stored",
                          "    2   66  collected file           stored             5000         5000",
                          "    3  254  text report              compressed", "    4   77  unknown type"})
    EXPECT_NE(r.out.find(row), std::string::npos) << row << "\n" << r.out;
}

TEST_F(Zv2Tool, ExtractsItemsByteIdenticalToFilesOrStandardOutput) {
  BuildSample();
  for (int i = 0; i < 5; i++) {
    std::string out = "out" + std::to_string(i);
    zvtest::run_result r = Tool({"extract", "c.zv2", std::to_string(i), out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(out), items_[i]) << i;
  }
  zvtest::run_result r = Tool({"extract", "c.zv2", "3", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), items_[3]);

  Spit("taken", Bytes{'k'});
  r = Tool({"extract", "c.zv2", "0", "taken"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("must not exist"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp("taken"), Bytes{'k'});
  r = Tool({"extract", "c.zv2", "5", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no item 5 (the file holds items 0 to 4)"), std::string::npos) << r.err;
  EXPECT_EQ(Tool({"extract", "c.zv2", "1x", "x"}).status, 2);
  EXPECT_EQ(Tool({"extract", "c.zv2", "-1", "x"}).status, 2);
}

TEST_F(Zv2Tool, FindsTheRunsOwnReportAndExtractsAllUnderNamesSayingWhatTheyHold) {
  BuildSample();
  // The last report is the run's own; one before it was imported.
  ASSERT_EQ(Tool({"extract", "c.zv2", "report", "r"}).status, 0);
  EXPECT_EQ(Slurp("r"), items_[3]);
  zvtest::run_result r = Tool({"extract-all", "c.zv2", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> names = {"00-imported-xml-report.xml", "01-identification-block.txt",
                                          "02-collected-file.txt", "03-text-report.txt", "04-type-77.bin"};
  for (size_t i = 0; i < names.size(); i++) {
    EXPECT_EQ(Slurp("all/" + names[i]), items_[i]) << names[i];
    EXPECT_NE(r.out.find("all/" + names[i] + "\n"), std::string::npos) << r.out;
  }
  // Never over an existing file; a container without a report says so.
  EXPECT_EQ(Tool({"extract-all", "c.zv2", "all"}).status, 1);
  GatherFile g;
  Spit("id", items_[1]);
  ASSERT_EQ(g.CreateFile(P("n.zv2").c_str()), 0);
  ASSERT_EQ(g.AddItemFile(1, P("id").c_str(), false), 0);
  g.CloseFile();
  r = Tool({"extract", "n.zv2", "report", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zv2tool: n.zv2: holds no report (no item of type 15 or 254)\n");
}

TEST(ContainerItems, CollectedFilesAreNamedAfterTheirSourceSafely) {
  const struct {
    const char* first_line;
    const char* name;
  } cases[] = {{"Filename: /etc/hosts\n", "07-collected-file-hosts"},
               {"Filename: /var/log/../.hidden name\r\n", "07-collected-file-hidden_name"},
               {"Filename: /etc/\n", "07-collected-file.txt"},
               {"MIME-Type: text/plain\n", "07-collected-file.txt"}};
  for (const auto& c : cases)
    EXPECT_EQ(container_item_file_name(7, 66, false, collected_file_source(c.first_line)), c.name);
}

TEST_F(Zv2Tool, ReadsTheStuffedFormWithoutChangingAnyFile) {
  BuildSample();
  GatherFile g;
  ASSERT_EQ(g.RemoveNulls(P("c.zv2").c_str()), 0);
  ASSERT_EQ(chmod(P("c.zv2").c_str(), 0444), 0);
  Bytes before = Slurp("c.zv2");
  struct stat st0, st1;
  ASSERT_EQ(stat(P("c.zv2").c_str(), &st0), 0);

  zvtest::run_result r = Tool({"list", "c.zv2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("byte-stuffed form"), std::string::npos);
  r = Tool({"verify", "c.zv2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5 items, all consistent"), std::string::npos) << r.out;
  r = Tool({"extract", "c.zv2", "0", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp("x"), items_[0]);

  ASSERT_EQ(stat(P("c.zv2").c_str(), &st1), 0);
  EXPECT_EQ(Slurp("c.zv2"), before);
  EXPECT_EQ(st0.st_mtime, st1.st_mtime);
}

TEST_F(Zv2Tool, VerifyNamesTheFirstBadItem) {
  BuildSample();
  Bytes good = Slurp("c.zv2");
  GatherFile g;
  ASSERT_EQ(g.OpenReadOnly(P("c.zv2").c_str()), 0);
  gth_item_header h;
  ASSERT_EQ(g.GetItemHeader(3, &h), 0);
  g.CloseFile();

  // Item 3's stream cut short by one byte (its recorded length too).
  Bytes bad = good;
  bad[size_t(h.offset) + 6] = uint8_t(h.comp_size - 1);
  bad[size_t(h.offset) + 7] = uint8_t((h.comp_size - 1) >> 8);
  bad.erase(bad.begin() + long(h.offset + 10 + h.comp_size - 1));
  Spit("bad.zv2", bad);
  zvtest::run_result r = Tool({"verify", "bad.zv2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("item 3 (type 254, text report): coded stream damaged"), std::string::npos) << r.err;
  EXPECT_EQ(Tool({"extract", "bad.zv2", "3", "x"}).status, 1);
  EXPECT_EQ(access(P("x").c_str(), F_OK), -1);
  EXPECT_EQ(Tool({"extract", "bad.zv2", "2", "y"}).status, 0);

  // Cut inside item 4: listed up to item 3, then the error.
  Spit("cut.zv2", Bytes(good.begin(), good.end() - 2));
  r = Tool({"list", "cut.zv2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("text report"), std::string::npos);
  EXPECT_NE(r.err.find("item 4 of 5: its header or data runs past the end of the file"), std::string::npos)
      << r.err;
  EXPECT_EQ(Tool({"verify", "cut.zv2"}).status, 1);

  // Bytes of an unfinished item after the last counted one.
  good.insert(good.end(), {66, 1, 0});
  Spit("long.zv2", good);
  r = Tool({"verify", "long.zv2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("3 stray bytes after the last item"), std::string::npos) << r.err;
}

TEST_F(Zv2Tool, MalformedInputsGetAClearErrorNeverACrash) {
  Spit("empty", Bytes());
  Spit("foreign", Bytes(64, 'A'));
  Spit("claims", {'_', 'Z', 'E', 'L', 'V', 'A', 'R', 'N', '_', 0, 1, 2, 3, 4, 5, 0xE8, 7, 0, 2, 200});  // 200 items
  Bytes stuffed = {'_', 'Z', 'E', 'L', 'V', 'A', 'F', 'F', '_', 0xFF, 0x07};
  stuffed.resize(40, 'x');
  Spit("stuffed", stuffed);
  // A zero byte cannot occur in the stuffed form: refused where it stands,
  // not after expanding the (sparse, 256 MiB) rest.
  Bytes zeroed = {'_', 'Z', 'E', 'L', 'V', 'A', 'F', 'F', '_', 0};
  Spit("zeroed", zeroed);
  ASSERT_EQ(truncate(P("zeroed").c_str(), 256 << 20), 0);
  ASSERT_EQ(mkdir(P("dir").c_str(), 0700), 0);
  const char* cases[][2] = {{"empty", "too short"},     {"foreign", "not a container file"},
                            {"claims", "item 0 of 200"}, {"stuffed", "damaged byte stuffing"},
                            {"zeroed", "damaged byte stuffing"},
                            {"dir", "cannot open"},      {"absent", "cannot open"}};
  for (const auto& c : cases) {
    for (const char* cmd : {"list", "verify"}) {
      SCOPED_TRACE(std::string(cmd) + " " + c[0]);
      zvtest::run_result r = Tool({cmd, c[0]});
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(std::string("zv2tool: ") + c[0] + ": "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c[1]), std::string::npos) << r.err;
    }
    EXPECT_EQ(Tool({"extract", c[0], "0", "out"}).status, 1);
  }
}

TEST_F(Zv2Tool, OutputThatCannotBeWrittenOrPlacedFailsWithTheReason) {
  BuildSample();
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  std::string err;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list", "c.zv2"}, {"verify", "c.zv2"}, {"extract", "c.zv2", "0", "-"}, {"-h"}}) {
    SCOPED_TRACE(args[0]);
    EXPECT_EQ(zvtest::run_with_output(tool(), args, dir.path(), full, err), 1);
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
  }
  close(full);
  zvtest::run_result r = Tool({"extract", "c.zv2", "0", "missing/out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create missing/out: its directory is missing"), std::string::npos) << r.err;
}

TEST_F(Zv2Tool, PrintsItsManualAndRefusesWrongUsage) {
  zvtest::run_result r = Tool({"-h"});
  EXPECT_EQ(r.status, 0);
  for (const char* piece : {"SYNOPSIS", "zv2tool extract FILE INDEX OUT", "EXIT STATUS"})
    EXPECT_NE(r.out.find(piece), std::string::npos) << piece;
  EXPECT_EQ(Tool({}).status, 2);
  EXPECT_EQ(Tool({"unpack", "c.zv2"}).status, 2);
  EXPECT_EQ(Tool({"list", "a", "b"}).status, 2);
}

}  // namespace
