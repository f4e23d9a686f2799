// report_reader_test.cpp - the streaming report reader against reports the
// program's own writer makes: every form read back row by row, and changed
// bytes of a checksummed report found by its checksums or its structure.
#include "report_reader.h"

#include "zvtest.h"

#include "report_build.h"
#include "report_fixture.h"

namespace {

using ReportReader = ReportWriterTest;

struct collect : report_handler {
  std::vector<std::string> rows;  // "section|table|id|key=value(n)|..."
  std::string files;
  bool row(const report_row& r) override {
    std::string s = *r.section + "|" + *r.table + "|" + r.id;
    if (!r.import->empty()) s = "import|" + s;
    for (size_t i = 0; i < r.cell_count; i++)
      s += "|" + r.cells[i].key + "=" + r.cells[i].value + (r.cells[i].integer ? "(n)" : "");
    rows.push_back(s);
    return true;
  }
  bool file_begin(const std::string&, const std::string& name) override {
    files += "<" + name + ">";
    return true;
  }
  bool file_text(const char* p, size_t n) override {
    files.append(p, n);
    return true;
  }
};

class ReaderOnReports : public ReportReader {
 protected:
  /// A checksummed report with an embedded file and an imported report.
  std::string full_report() {
    std::string embedded = dir.file("embedded.txt");
    zvtest::write_file("", embedded, std::string("line\r\nctl\x01 bad\xff ]]> end\n", 24));
    std::string inner = dir.file("inner.zvml");
    EXPECT_TRUE(zvtest::write_report(inner, {{"INNER", "T", "r", {{"#N", "7"}}}}));
    std::string outer = dir.file("outer.xml");
    std::vector<zvtest::row_spec> rows = zvtest::machine_rows("Tavrin", "S1");
    rows.push_back({"Linux Startup Information", "Startup Services", "cron", {{"Runlevel", "on"}, {"Runlevel", "off"}}});
    EXPECT_TRUE(zvtest::write_report(outer, rows, {embedded}, {inner}));
    return zvtest::read_file(outer);
  }
  report_status read(const std::string& text, collect& c, std::string* error = nullptr, bool force = false) {
    report_reader r(c);
    r.set_force(force);
    report_status s = r.read_memory(text.data(), text.size());
    if (error) *error = r.error();
    identity = r.identity();
    form = r.form();
    return s;
  }
  zvtest::temp_dir dir;
  report_identity identity;
  report_form form = REPORT_UNKNOWN;
};

TEST_F(ReaderOnReports, ReadsEveryRowFileAndImportOfACheckedReport) {
  std::string text = full_report();
  collect c;
  std::string error;
  ASSERT_EQ(read(text, c, &error), REPORT_OK) << error;
  EXPECT_EQ(form, REPORT_ZVML);
  EXPECT_EQ(identity.vendor, "Tavrin");
  EXPECT_EQ(identity.serial, "S1");
  ASSERT_EQ(c.rows.size(), 9u);
  EXPECT_EQ(c.rows[5], "Processes|Process List|sshd|PID=811(n)|Process Name=sshd");
  EXPECT_EQ(c.rows[7], "Linux Startup Information|Startup Services|cron|Runlevel=on|Runlevel_2=off");
  EXPECT_EQ(c.rows[8], "import|INNER|T|r|N=7(n)");
  // Control characters become "?", bad bytes U+FFFD; "]]>" survives the block split.
  EXPECT_NE(c.files.find("line\r\nctl? bad\xEF\xBF\xBD ]]> end\n"), std::string::npos) << c.files;
}

TEST_F(ReaderOnReports, PlainXmlAndOrnaFormsAreReadToo) {
  std::vector<zvtest::row_spec> rows = zvtest::machine_rows("Tavrin", "S1");
  const struct {
    output_format_type format;
    report_form form;
    const char* row;
  } cases[] = {
      {OUTPUT_XML, REPORT_XML, "PROCESSES|PROCESS_LIST|sshd|PID=811(n)|PROCESS_NAME=sshd"},
      {OUTPUT_ORNA, REPORT_ORNA, "|ORNA_PROCESS_LIST|1|PID=811(n)|PROCESS_NAME=sshd"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.row);
    std::string path = dir.file("form" + std::to_string(int(k.format)));
    ASSERT_TRUE(zvtest::write_report(path, rows, {}, {}, k.format));
    collect c;
    std::string error;
    ASSERT_EQ(read(zvtest::read_file(path), c, &error), REPORT_OK) << error;
    EXPECT_EQ(form, k.form);
    ASSERT_EQ(c.rows.size(), rows.size());
    EXPECT_EQ(c.rows[5], k.row);
  }
}

/// Replaces the n-th (0-based) occurrence of `from`.
std::function<void(std::string&)> change(const std::string& from, const std::string& to, int nth = 0) {
  return [=](std::string& s) {
    size_t at = s.find(from);
    for (int i = 0; i < nth && at != std::string::npos; i++) at = s.find(from, at + 1);
    ASSERT_NE(at, std::string::npos) << from;
    s.replace(at, from.size(), to);
  };
}

TEST_F(ReaderOnReports, EveryKindOfDamageIsNamed) {
  const std::string base = full_report();
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    report_status status;
    const char* message;
  } cases[] = {
      {"cell value", change("5.2.15-2", "5.2.15-3"), REPORT_BAD_CHECKSUM,
       "section \"Installed Software\", table \"DPKG Packages\", row \"bash\": row checksum"},
      {"row count", change("<ROWS>2</ROWS>", "<ROWS>3</ROWS>"), REPORT_BAD_CHECKSUM, "row count 3 does not match"},
      {"second row's column name", change("ID=\"Version\"", "ID=\"Versiom\"", 1), REPORT_BAD_CHECKSUM,
       "is named \"Versiom\""},
      {"embedded file", change("ctl?", "ctl!"), REPORT_BAD_CHECKSUM, "embedded file"},
      {"bytes of an import", change("<!-- import", "<!--  import"), REPORT_OK, ""},
      {"import content", [](std::string& s) { s.insert(s.find("<SECTION ID=\"INNER\">"), " "); },
       REPORT_BAD_CHECKSUM, "report checksum"},
      {"report checksum", [](std::string& s) { s.replace(s.rfind("<CHK>") + 6, 1, "Z"); }, REPORT_BAD_CHECKSUM,
       "is not a checksum"},
      {"missing row end", change("</ROW>", ""), REPORT_NOT_WELL_FORMED, "\"ROWS\" after the row checksum"},
      {"document type", change("<GATHERED_DATA>", "<!DOCTYPE x><GATHERED_DATA>"), REPORT_NOT_WELL_FORMED,
       "document type"},
      {"unknown entity", change("host1", "host&bogus;1"), REPORT_NOT_WELL_FORMED, "unknown entity"},
      {"control character", change("host1", "ho\x02st1"), REPORT_NOT_WELL_FORMED, "control character 2"},
      {"foreign element", change("<CHK>", "<XX/><CHK>", 2), REPORT_NOT_WELL_FORMED, "\"XX\""},
      {"text between elements", change("</ROW>", "x</ROW>"), REPORT_NOT_WELL_FORMED, "text where only elements"},
      {"second column count", change("<COLS>2</COLS>", "<COLS>2</COLS>\r\n<COLS>3</COLS>"), REPORT_NOT_WELL_FORMED,
       "a second column count"},
      {"cut short", [](std::string& s) { s.resize(s.size() / 2); }, REPORT_NOT_WELL_FORMED, "ends"},
      {"not a report", [](std::string& s) { s = "PK\x03\x04 binary"; }, REPORT_NOT_WELL_FORMED, "line 1"},
      {"empty", [](std::string& s) { s.clear(); }, REPORT_NOT_WELL_FORMED, "no report element"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    std::string text = base;
    k.damage(text);
    collect c;
    std::string error;
    EXPECT_EQ(read(text, c, &error), k.status) << error;
    EXPECT_NE(error.find(k.message), std::string::npos) << error;
  }
  // With force the reader goes on past a checksum and hands on every row.
  std::string text = base;
  change("5.2.15-2", "5.2.15-3")(text);
  collect c;
  EXPECT_EQ(read(text, c, nullptr, true), REPORT_BAD_CHECKSUM);
  EXPECT_EQ(c.rows.size(), 9u);
}

}  // namespace
