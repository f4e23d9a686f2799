// zv2tool_report_test.cpp - the report commands of zv2tool: verify finding
// changed bytes of a container's report, json checked by a real JSON parser,
// diff on table-driven pairs of reports, the README's fleet queries, and
// damaged input of every kind.
#include "zvtest.h"

#include "gthfile.h"
#include "report_build.h"

namespace {

using zvtest::row_spec;

/// The first of the candidate paths that is an executable, else "".
std::string found(const std::vector<std::string>& candidates) {
  for (const std::string& c : candidates)
    if (access(c.c_str(), X_OK) == 0) return c;
  return "";
}

class Zv2ToolReport : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(access(tool().c_str(), X_OK), 0) << "zv2tool not built"; }
  static std::string tool() { return std::string(ZV_BINARY_DIR) + "/zv2tool"; }
  std::string P(const std::string& name) const { return dir.file(name); }
  zvtest::run_result Run(const std::string& program, std::vector<std::string> args) const {
    zvtest::run_options o;
    o.program = program;
    o.args = std::move(args);
    o.cwd = dir.path();
    o.env = {{"PATH", std::string(ZV_BINARY_DIR) + ":/usr/bin:/bin"}};
    zvtest::run_result r = zvtest::run_program(o);
    EXPECT_EQ(r.signal, 0) << r.err;
    if (!r.exited) r.status = -1;
    return r;
  }
  zvtest::run_result Tool(std::vector<std::string> args) const { return Run(tool(), std::move(args)); }
  void Report(const std::string& name, const std::vector<row_spec>& rows) const {
    ASSERT_TRUE(zvtest::write_report(P(name), rows)) << name;
  }
  /// Every line of `file` parses as JSON (Python's json module); the count.
  int JsonLines(const std::string& file) const {
    std::string python = found({"/usr/bin/python3", "/usr/local/bin/python3"});
    if (python.empty()) return -1;
    zvtest::run_result r = Run(python, {"-c",
                                        "import json, sys\n"
                                        "n = 0\n"
                                        "for line in open(sys.argv[1], encoding='utf-8'):\n"
                                        "    assert isinstance(json.loads(line), dict); n += 1\n"
                                        "print(n)\n",
                                        file});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? std::stoi(r.out) : -2;
  }
  zvtest::temp_dir dir;
};

TEST_F(Zv2ToolReport, VerifyFindsAChangedByteAnywhereInTheCodedReport) {
  std::vector<row_spec> rows = zvtest::machine_rows("Tavrin", "S1");
  for (int i = 0; i < 400; i++)
    rows.push_back({"Installed Software", "DPKG Packages", "pkg" + std::to_string(i),
                    {{"Name", "pkg" + std::to_string(i)}, {"Version", std::to_string(i * 7919 % 1000) + ".1"}}});
  Report("r.xml", rows);
  ASSERT_TRUE(zvtest::make_container(P("good.ZV2"), zvtest::id_block("Tavrin", "M1", "S1", "u"), P("r.xml")));
  zvtest::run_result r = Tool({"verify", "good.ZV2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("report (checksummed XML form): well-formed, 407 rows"), std::string::npos) << r.out;

  GatherFile g;
  ASSERT_EQ(g.OpenReadOnly(P("good.ZV2").c_str()), 0);
  gth_item_header h;
  ASSERT_EQ(g.GetItemHeader(1, &h), 0);
  g.CloseFile();
  std::string good = zvtest::read_file(P("good.ZV2"));
  int undetected = 0, tried = 0;
  for (uint32_t k = 3; k < h.comp_size; k += h.comp_size / 40 + 1, tried++) {
    std::string bad = good;
    bad[size_t(h.offset) + 10 + k] ^= 0x10;
    ASSERT_TRUE(zvtest::write_file(dir.path(), "bad.ZV2", bad));
    r = Tool({"verify", "bad.ZV2"});
    if (r.status != 1) undetected++;
    EXPECT_NE(r.err.find("zv2tool: bad.ZV2: "), std::string::npos) << k;
  }
  EXPECT_EQ(undetected, 0) << "of " << tried;
}

TEST_F(Zv2ToolReport, JsonLinesAreValidJsonAndKeepEveryRowAndFile) {
  std::string odd = "ctl\x01\x1b bad\xff\xfe end";
  std::string longline(300000, 'x');
  ASSERT_TRUE(zvtest::write_file(dir.path(), "embedded.txt", odd + "\n" + longline + "\n"));
  ASSERT_TRUE(zvtest::write_file(dir.path(), "collected.bin",
                                 "Filename: /etc/odd\nMIME-Type: application/octet-stream\n\n" + odd + longline));
  std::vector<row_spec> rows = zvtest::machine_rows("Tavrin", "S1");
  rows.push_back({"ENVIRONMENT", "Shell variables", "LONG", {{"Name", "LONG"}, {"Value", longline}}});
  ASSERT_TRUE(zvtest::write_report(P("r.xml"), rows, {P("embedded.txt")}));
  ASSERT_TRUE(zvtest::make_container(P("m.ZV2"), zvtest::id_block("Tavrin", "M1", "S1", "u-1"), P("r.xml"),
                                     {P("collected.bin")}));
  zvtest::run_result r = Tool({"json", "m.ZV2"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(zvtest::write_file(dir.path(), "m.jsonl", r.out));
  for (const char* piece : {"{\"record\":\"row\",\"file\":\"m.ZV2\",\"vendor\":\"Tavrin\",\"model\":\"M1\","
                            "\"serial\":\"S1\",\"uuid\":\"u-1\",\"section\":\"Processes\",\"table\":\"Process List\","
                            "\"row\":\"sshd\",\"PID\":811,\"Process Name\":\"sshd\"}",
                            "\"name\":\"/etc/odd\",\"type\":\"application/octet-stream\",\"text\":\"ctl\\u0001\\u001b "
                            "bad\\ufffd\\ufffd end",
                            "\"type\":\"embedded\",\"text\":\"ctl?? bad\xEF\xBF\xBD\xEF\xBF\xBD end\\n"})
    EXPECT_NE(r.out.find(piece), std::string::npos) << piece;
  int lines = JsonLines(P("m.jsonl"));
  if (lines == -1) GTEST_SKIP() << "python3 is not installed: the lines were not checked with a JSON parser";
  EXPECT_EQ(lines, int(rows.size()) + 2);  // + the embedded and the collected file

  // One file per table; a second run never writes over them.
  r = Tool({"json", "-o", "out", "m.ZV2"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> files = zvtest::list_dir(P("out"));
  EXPECT_EQ(files.size(), 7u);
  EXPECT_NE(std::find(files.begin(), files.end(), "Processes.Process_List.jsonl"), files.end());
  EXPECT_EQ(JsonLines(P("out/Processes.Process_List.jsonl")), 2);
  EXPECT_EQ(JsonLines(P("out/files.jsonl")), 2);
  r = Tool({"json", "-o", "out", "m.ZV2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
}

/// `base` with the cell `column` of the row `id` set to `value` (a new row
/// when there is none).
std::vector<row_spec> with(std::vector<row_spec> base, const std::string& id, const std::string& column,
                           const std::string& value) {
  for (row_spec& r : base)
    if (r.id == id)
      for (auto& c : r.cells)
        if (c.first == column || c.first.substr(1) == column) {
          c.second = value;
          return base;
        }
  base.push_back({"Installed Software", "DPKG Packages", id, {{"Name", id}, {column, value}}});
  return base;
}

TEST_F(Zv2ToolReport, DiffShowsRowsAddedRemovedAndChangedAndExitsLikeDiff) {
  const std::vector<row_spec> base = zvtest::machine_rows("Tavrin", "S1");
  Report("a.xml", base);
  const struct {
    const char* what;
    std::vector<row_spec> b;
    std::vector<std::string> options;
    int status;
    std::vector<const char*> shown;
  } cases[] = {
      {"same", base, {}, 0, {}},
      {"version", with(base, "openssl", "Version", "3.0.13-1"), {}, 1,
       {"section \"Installed Software\", table \"DPKG Packages\":\n  ~ row \"openssl\"\n"
        "      Version: \"3.0.11-1\" -> \"3.0.13-1\"\n",
        "0 rows added, 0 removed, 1 changed, in 1 table"}},
      {"added", with(base, "curl", "Version", "7.88"), {}, 1, {"  + row \"curl\": Name=\"curl\" Version=\"7.88\""}},
      {"moment only", with(with(with(base, "Local", "Time", "17:00:00"), "sshd", "PID", "812"), "Local", "Date", "2026-12-10"),
       {}, 0, {}},
      {"moment with --all", with(base, "Local", "Time", "17:00:00"), {"--all"}, 1,
       {"~ row \"Local\"\n      Time: \"16:08:34\" -> \"17:00:00\""}},
      {"json", with(base, "openssl", "Version", "3.0.13-1"), {"--json"}, 1,
       {"{\"change\":\"changed\",\"section\":\"Installed Software\",\"table\":\"DPKG Packages\",\"row\":\"openssl\","
        "\"columns\":{\"Version\":{\"old\":\"3.0.11-1\",\"new\":\"3.0.13-1\"}}}\n"}},
      {"other machine", with(base, "", "System Serial Number", "S2"), {}, 2, {"are reports of different machines"}},
      {"other machine, forced", with(base, "", "System Serial Number", "S2"), {"--force"}, 1, {"~ row \"\""}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    Report(std::string(k.what) + ".xml", k.b);
    std::vector<std::string> args = {"diff"};
    args.insert(args.end(), k.options.begin(), k.options.end());
    args.push_back("a.xml");
    args.push_back(std::string(k.what) + ".xml");
    zvtest::run_result r = Tool(args);
    EXPECT_EQ(r.status, k.status) << r.out << r.err;
    if (k.shown.empty()) {
      EXPECT_EQ(r.out, "");
    }
    for (const char* s : k.shown) EXPECT_NE((r.out + r.err).find(s), std::string::npos) << s << "\n" << r.out << r.err;
  }
  // Containers are told apart by their identification blocks.
  ASSERT_TRUE(zvtest::make_container(P("a.ZV2"), zvtest::id_block("Tavrin", "M1", "S1", "uuid-S1"), P("a.xml")));
  ASSERT_TRUE(zvtest::make_container(P("b.ZV2"), zvtest::id_block("Tavrin", "M1", "S9", "uuid-S1"), P("a.xml")));
  zvtest::run_result r = Tool({"diff", "a.ZV2", "b.ZV2"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("different machines"), std::string::npos) << r.err;
  EXPECT_EQ(Tool({"diff", "a.ZV2", "a.xml"}).status, 0);
}

TEST_F(Zv2ToolReport, ReadmeFleetQueriesAnswerOverThreeReports) {
  if (found({"/usr/bin/sqlite3", "/usr/local/bin/sqlite3"}).empty()) GTEST_SKIP() << "sqlite3 is not installed";
  // Name, vendor, model, serial, memory and openssl version of each machine.
  const char* machines[][6] = {{"a", "Tavrin", "TX200", "SN-A-0001", "4294967296", "3.0.11-1~deb12u2"},
                               {"b", "Tavrin", "TX900", "SN-B-0002", "68719476736", "3.0.13-1~deb12u1"},
                               {"c", "Quellon", "K7", "SN-C-0003", "2147483648", "3.0.11-1~deb12u2"}};
  for (const auto& m : machines) {
    Report(std::string(m[0]) + ".xml",
           {{"SYSTEM SUMMARY", "System Summary", "", {{"!System Vendor", m[1]}, {"!System Serial Number", m[3]}}},
            {"MEMORY INFORMATION", "Memory Statistics", "PHYSICAL_MEMORY", {{"!Total (bytes)", m[4]}}},
            {"Installed Software", "DPKG Packages", "bash", {{"Name", "bash"}, {"Version", "5.2.15-2"}}},
            {"Installed Software", "DPKG Packages", "openssl", {{"Name", "openssl"}, {"Version", m[5]}}}});
    ASSERT_TRUE(zvtest::make_container(P(std::string("fleet-") + m[0] + ".ZV2"),
                                       zvtest::id_block(m[1], m[2], m[3], ""), P(std::string(m[0]) + ".xml")));
  }
  // The commands of the README block that follows the marker, as written.
  std::string readme = zvtest::read_file(std::string(ZV_SOURCE_DIR) + "/README.md");
  size_t marker = readme.find("<!-- fleet-queries");
  ASSERT_NE(marker, std::string::npos);
  size_t start = readme.find("```sh\n", marker) + 6, end = readme.find("```", start);
  ASSERT_TRUE(zvtest::write_file(dir.path(), "queries.sh", readme.substr(start, end - start)));
  zvtest::run_result r = Run("/bin/bash", {"-e", "queries.sh"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "fleet-a.ZV2|4294967296\nfleet-c.ZV2|2147483648\n"
            "fleet-a.ZV2|SN-A-0001\nfleet-c.ZV2|SN-C-0003\n");
}

TEST_F(Zv2ToolReport, DamagedInputGetsAMessageNamingTheFile) {
  Report("good.xml", zvtest::machine_rows("Tavrin", "S1"));
  std::string good = zvtest::read_file(P("good.xml"));
  std::string sum = good;
  sum.replace(sum.find("5.2.15-2"), 8, "5.2.15-3");
  ASSERT_TRUE(zvtest::write_file(dir.path(), "sum.xml", sum));
  ASSERT_TRUE(zvtest::write_file(dir.path(), "cut.xml", good.substr(0, good.size() / 2)));
  ASSERT_TRUE(zvtest::write_file(dir.path(), "noise.bin", std::string("\x89PNG\r\n\x1a\n\0\0", 10)));
  ASSERT_TRUE(zvtest::make_container(P("sum.ZV2"), "", P("sum.xml")));
  ASSERT_TRUE(zvtest::make_container(P("good.ZV2"), "", P("good.xml")));
  std::string box = zvtest::read_file(P("good.ZV2"));
  ASSERT_TRUE(zvtest::write_file(dir.path(), "cut.ZV2", box.substr(0, box.size() - 40)));
  box[box.size() / 2] ^= 0x55;
  ASSERT_TRUE(zvtest::write_file(dir.path(), "flip.ZV2", box));
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"json", "absent.ZV2"}, 1, "zv2tool: absent.ZV2: cannot open"},
      {{"json", "noise.bin"}, 1, "zv2tool: noise.bin: line 2: not well-formed"},
      {{"json", "cut.xml"}, 1, "zv2tool: cut.xml: line "},
      {{"json", "cut.ZV2"}, 1, "zv2tool: cut.ZV2: damaged container"},
      {{"json", "flip.ZV2"}, 1, "zv2tool: flip.ZV2: "},
      {{"json", "sum.xml"}, 1, "row \"bash\": row checksum  "},
      {{"json", "sum.xml"}, 1, "(stopped there; --force goes on)"},
      {{"json", "--force", "sum.xml"}, 1, "--force: gone on"},
      {{"verify", "sum.ZV2"}, 1, "zv2tool: sum.ZV2: report: line "},
      {{"verify", "flip.ZV2"}, 1, "zv2tool: flip.ZV2: "},
      {{"diff", "good.xml", "sum.xml"}, 2, "zv2tool: sum.xml: line "},
      {{"diff", "good.xml", "absent.xml"}, 2, "zv2tool: absent.xml: cannot open"},
      {{"diff", "good.xml"}, 2, "usage"},
      {{"json"}, 2, "usage"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.args.back());
    zvtest::run_result r = Tool(k.args);
    EXPECT_EQ(r.status, k.status) << r.err;
    EXPECT_NE(r.err.find(k.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(zvtest::count_of(Tool({"json", "--force", "sum.xml"}).out, "\n"), 7u);

  // A container with a text report has no report checksums: verify passes it.
  GatherFile g;
  ASSERT_EQ(g.CreateFile(P("text.GTH").c_str()), 0);
  ASSERT_EQ(g.AddItemFile(254, P("good.xml").c_str(), true), 0);
  g.CloseFile();
  zvtest::run_result r = Tool({"verify", "text.GTH"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("no XML report item"), std::string::npos) << r.out;
}

}  // namespace
