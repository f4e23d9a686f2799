// table_test.cpp - the table writer: renderings against hand-written golden
// files, refusals, checksums, and every XML and HTML output through a parser.
#include "table.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "date.h"
#include "harness.h"
#include "report_check.h"
#include "report_fixture.h"
#include "xml.h"
#include "zelvarn2.h"

namespace {

using TableWriter = ReportWriterTest;

std::string golden(const char* name) {
  return read_whole_file(std::string(ZV_SOURCE_DIR) + "/tests/fixtures/golden/" + name);
}

/// One small table with a column of every type, two rows, in a section.
void write_sample(FILE* f) {
  start_section(f, "Storage");
  {
    static const Column columns[] = {{"Name", STRING, 12}, {"Count", INTEGER},      {"Flags", HEX},
                                     {"Ratio", FLOAT},      {"Label", ASCII_STRING}, {"Active", BOOL}};
    Table t(f, "Disk Usage", "Partition");
    t.heading(columns);
    t.start_row("r1");
    t.log_data("sda1");
    t.log_data(42);
    t.log_data(31);
    t.log_data(3);
    t.log_data("a\tb");
    t.log_data(2);
    t.end_row();
    t.start_row(L"r2");
    t.log_wide_data(L"x&<y>");
    t.log_data(-5);
    t.log_data(255UL);
    t.log_data(0);
    t.log_wide_data(L"ok");
    t.log_data(0);
    t.end_row();
  }
  end_section(f);
}

std::string render_sample(output_format_type format) {
  Table::set_output_format(format);
  mem_stream out;
  write_sample(out.get());
  return out.text();
}

/// A ZVML fragment framed as a whole report with its report checksum.
std::string as_report(const std::string& body) {
  char chk[16];
  snprintf(chk, sizeof chk, "%8X", (unsigned)output_checksum);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<GATHERED_DATA>\r\n" + body +
         "<CHK>" + chk + "</CHK>\r\n</GATHERED_DATA>\r\n";
}

/// A one-column table of the given type with one row holding one cell.
template <class V>
std::string one_cell(output_format_type format, datatype type, V value, int width = 0) {
  Table::set_output_format(format);
  mem_stream out;
  {
    Table t(out.get(), "T");
    t.heading({{"V", type, width}});
    t.start_row("0");
    t.log_data(value);
    t.end_row();
  }
  return out.text();
}

}  // namespace

TEST_F(TableWriter, RendersEveryTypeInEveryFormatAsTheGoldenFiles) {
  EXPECT_EQ(render_sample(OUTPUT_TEXT), golden("table_text.txt"));
  EXPECT_EQ(render_sample(OUTPUT_XML), golden("table_xml.xml"));
  EXPECT_EQ(render_sample(OUTPUT_ORNA), golden("table_orna.xml"));
  EXPECT_EQ(render_sample(OUTPUT_ZVML), golden("table_zvml.xml"));
  EXPECT_EQ(render_sample(OUTPUT_HTML), golden("table_html.html"));
}

TEST_F(TableWriter, XmlFormsParseAndZvmlChecksumsAddUp) {
  if (!have_xml_parser()) GTEST_SKIP() << "no XML parser in this build";
  const std::string heading = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
  for (output_format_type f : {OUTPUT_XML, OUTPUT_ORNA}) {
    zvml_check_result r = check_zvml(heading + "<R>" + render_sample(f) + "</R>");
    EXPECT_TRUE(r.parsed) << r.error;
  }
  output_checksum = 0;
  zvml_check_result r = check_zvml(as_report(render_sample(OUTPUT_ZVML)));
  ASSERT_TRUE(r.parsed) << r.error;
  EXPECT_TRUE(r.mismatches.empty()) << r.mismatches[0];
  EXPECT_EQ(r.checks, 6);  // 2 rows, ROWS, table, section, report
  EXPECT_EQ(element_text(r, "STR", 1), "x&<y>");
  EXPECT_EQ(Table::get_output_checksum(), 0xC1Fu);
}

TEST_F(TableWriter, HtmlShowsTheRawTextAndInjectsNoElement) {
  if (!have_xmllint()) GTEST_SKIP() << "xmllint not installed";
  Table::set_output_format(OUTPUT_HTML);
  const char* hostile = "<b>x</b><script>alert(1)</script> & \"q\"";
  mem_stream out;
  start_section(out.get(), "A \"<i>\" section");
  {
    Table t(out.get(), "<em>Title</em>");
    t.heading({{"<u>col</u>", STRING}});
    t.start_row("0");
    t.log_data(hostile);
    t.end_row();
  }
  end_section(out.get());
  std::string page = "<html><body>" + out.text() + "</body></html>";
  std::string errors;
  EXPECT_EQ(html_xpath(page, "string(//td)", &errors), hostile);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(html_xpath(page, "string(//th)"), "<u>col</u>");
  EXPECT_EQ(html_xpath(page, "string(//h3)"), "<em>Title</em>");
  EXPECT_EQ(html_xpath(page, "string(//a/@name)"), "A \"<i>\" section");
  EXPECT_EQ(html_xpath(page, "count(//b|//script|//u|//em|//i)"), "0");
}

TEST_F(TableWriter, WritesEachTypeOfCellWithItsChecksum) {
  gathered_date good, bad;
  good.setDate("13/05/2006", 0);
  bad.setDate("01/02/2006", 0);
  gathered_datetime stamp;
  stamp.setDate("2006-05-01 13:45:00", 0);
  ASSERT_TRUE(good.is_valid());
  ASSERT_FALSE(bad.is_valid());
  const struct {
    const char* what;
    std::string out, expected;
  } cases[] = {
      {"string", one_cell(OUTPUT_ZVML, STRING, "abc"), "<STR ID=\"V\" W=\"75\">abc</STR>\r\n<CHK> 126</CHK>\r\n</ROW>\r\n"},
      {"hex: the checksum is of its text", one_cell(OUTPUT_ZVML, HEX, 31), "<HEX ID=\"V\" W=\"75\">0x1F</HEX>\r\n<CHK> 11F</CHK>"},
      {"hex text", one_cell(OUTPUT_TEXT, HEX, 31, 4), "|  1Fh |"},
      {"hex html", one_cell(OUTPUT_HTML, HEX, 31), "<TD>1Fh</TD>"},
      {"hex orna", one_cell(OUTPUT_ORNA, HEX, 31), "<INTEGER name=\"V\">31</INTEGER>"},
      {"wide hex", one_cell(OUTPUT_XML, HEX, 0x123456789ABULL), ">0x123456789AB<"},
      {"large integer", one_cell(OUTPUT_XML, INTEGER, 4000000000UL), ">4000000000<"},
      {"bool true", one_cell(OUTPUT_ZVML, BOOL, 2), ">true</BOOL>"},
      {"bool false", one_cell(OUTPUT_XML, BOOL, 0), "<ZV_V>false</ZV_V>"},
      {"float", one_cell(OUTPUT_ZVML, FLOAT, 7), "<DEC ID=\"V\" W=\"75\">7</DEC>"},
      {"ascii: a ? b = 0x61 + 0x3F + 0x62", one_cell(OUTPUT_ZVML, ASCII_STRING, "a\tb"), "<CHK> 102</CHK>"},
      {"orna text cut to width", one_cell(OUTPUT_ORNA, STRING, "0123456789", 4), "<CHAR name=\"V\">0123</CHAR>"},
      {"valid date", one_cell(OUTPUT_ZVML, INTEGER, good), "<DATE ID=\"V\" W=\"75\">2006-05-13</DATE>"},
      {"valid date text", one_cell(OUTPUT_TEXT, STRING, good), "| 2006-05-13 "},
      {"date and time", one_cell(OUTPUT_ZVML, STRING, stamp), ">2006-05-01 13:45:00</DATETIME>"},
      {"invalid date as text", one_cell(OUTPUT_ZVML, STRING, bad), "<STR ID=\"V\" W=\"75\">01/02/2006</STR>"},
      {"text cut between characters", one_cell(OUTPUT_TEXT, STRING, "\xC3\xA9\xC3\xA9\xC3\xA9", 2), "| \xC3\xA9\xC3\xA9 |"},
      {"text controls as ?", one_cell(OUTPUT_TEXT, STRING, "\x1B[2J\xC2\x9Bx", 6), "| ?[2J?x |"},
      {"html controls as ?", one_cell(OUTPUT_HTML, STRING, "\x1B[2J\xC3\xA9"), "<TD>?[2J\xC3\xA9</TD>"},
      {"summed as the U+FFFD written", one_cell(OUTPUT_ZVML, STRING, "\xE9"), "\xEF\xBF\xBD</STR>\r\n<CHK>FF6B</CHK>"},
  };
  for (const auto& c : cases) EXPECT_NE(c.out.find(c.expected), std::string::npos) << c.what << "\n" << c.out;
  // Cells sit directly in the table, without a row element.
  EXPECT_EQ(one_cell(OUTPUT_XML, STRING, "x"), "<ZV_T>\r\n<ZV_V>x</ZV_V>\r\n</ZV_T>\r\n");
  fd_capture console(1);
  std::string refused = one_cell(OUTPUT_ZVML, INTEGER, bad);
  EXPECT_EQ(console.finish(), "log_data(01/02/2006) - Column 0 (V) is NOT type STRING or ASCII STRING\n");
  EXPECT_EQ(refused.find("01/02/2006"), std::string::npos);
}

TEST_F(TableWriter, ReportsVerifyUnderEveryLocale) {
  if (!have_xml_parser()) GTEST_SKIP() << "no XML parser in this build";
  zvtest::temp_dir dir;  // an ISO-8859-1 locale is made here when the machine can
  bool latin1 = system(("localedef -i en_US -f ISO-8859-1 " + dir.path() + "/l1 >/dev/null 2>&1").c_str()) == 0;
  setenv("LOCPATH", dir.path().c_str(), 1);
  // Locale, then the first two cells as written: valid UTF-8 stays UTF-8
  // under C; invalid text is U+FFFD; Latin-1 text is converted.
  for (auto l : {std::vector<std::string>{"C.UTF-8", "caf\xEF\xBF\xBD", "caf\xC3\xA9"},
                 {"C", "caf\xEF\xBF\xBD", "caf\xC3\xA9"}, {"l1", "caf\xC3\xA9", "caf\xC3\x83\xC2\xA9"}}) {
    if (!setlocale(LC_ALL, l[0].c_str())) {
      EXPECT_FALSE(latin1) << l[0];
      continue;
    }
    Table::set_output_format(OUTPUT_ZVML);
    output_checksum = 0;
    mem_stream out;
    start_section(out.get(), "S");
    {
      Table t(out.get(), "T");
      t.heading({{"A", STRING}, {"B", STRING}, {"C", STRING}, {"D", STRING}});
      t.start_row("0");
      for (const char* cell : {"caf\xE9", "caf\xC3\xA9", "a\x01\xEF\xBF\xBE"}) t.log_data(cell);
      t.log_wide_data(L"\x00E9\xFFFF\x0001\x20AC");
      t.end_row();
    }
    FILE* src = fmemopen(const_cast<char*>("caf\xE9 caf\xC3\xA9\x01"), 11, "rb");
    log_file(out.get(), "/etc/x", src);
    fclose(src);
    end_section(out.get());
    zvml_check_result r = check_zvml(as_report(out.text()));
    ASSERT_TRUE(r.parsed) << r.error;
    EXPECT_EQ(r.checks, 6);
    EXPECT_TRUE(r.mismatches.empty()) << l[0] << ": " << r.mismatches[0];
    EXPECT_EQ(element_text(r, "STR", 0) + "|" + element_text(r, "STR", 1), l[1] + "|" + l[2]) << l[0];
  }
  unsetenv("LOCPATH");
  setlocale(LC_ALL, "C.UTF-8");
}

TEST_F(TableWriter, TakesTheHeadingAsDataInOneCall) {
  std::vector<std::string> names;
  for (int i = 0; i < 21; i++) names.push_back("C" + std::to_string(i));
  std::vector<Column> wide;
  for (const std::string& n : names) wide.push_back({n.c_str(), STRING});
  const Column sized[] = {{"Name", STRING, 6}, {"Count", INTEGER, 3}, {"Natural", STRING, -4}};
  const struct {
    const char* what;
    const Column* columns;
    size_t count;
    const char* refusal;  ///< null: accepted
    const char* heading;  ///< in the text form, when accepted
  } cases[] = {
      {"twenty, sized by their names", wide.data(), 20, nullptr, "| C0 | C1 | C2 |"},
      {"twenty-one refused whole", wide.data(), 21, "heading(C0) - 21 columns, too many.  Max is 20\n", ""},
      {"widths applied, a name cut, below 1 natural", sized, 3, nullptr,
       "+--------+-----+-------------------------+\n| Name   | Cou | Natural                 |"},
  };
  for (const auto& c : cases) {
    mem_stream out;
    Table t(out.get(), "T");
    fd_capture console(1);
    EXPECT_EQ(t.heading(c.columns, c.count), c.refusal == nullptr) << c.what;
    EXPECT_EQ(console.finish(), c.refusal ? c.refusal : "") << c.what;
    std::string text = out.text().substr(strlen("\nTable: T\n"));
    if (c.refusal)
      EXPECT_EQ(text, "") << c.what;
    else
      EXPECT_NE(text.find(c.heading), std::string::npos) << c.what << "\n" << text;
  }
  // The kinds are kept: a host column's cell is a token, a plain column's text is not.
  mask_enable_with_key("k", 1);
  mem_stream out;
  {
    Table t(out.get(), "T");
    t.heading({{"Host", STRING, 0, MASK_HOST}, {"Plain", STRING}});
    t.start_row("0");
    t.log_data("db7");
    t.log_data("kept");
    t.end_row();
  }
  mask_disable();
  EXPECT_NE(out.text().find("| host-"), std::string::npos) << out.text();
  EXPECT_EQ(out.text().find("db7"), std::string::npos);
  EXPECT_NE(out.text().find("| kept "), std::string::npos);
}

TEST_F(TableWriter, CutsNamesAndTextToTheWidthButNeverNumbers) {
  mem_stream out;
  {
    Table t(out.get(), "T");
    t.heading({{"Description", STRING, 16}, {"Number", INTEGER, 3}});
    t.start_row("0");
    t.log_data("abcdefghijklmnopqrstuvwxyz");
    t.log_data(123456);
    t.end_row();
  }
  std::string text = out.text();
  EXPECT_NE(text.find("| Description      | Num |"), std::string::npos) << text;
  EXPECT_NE(text.find("| abcdefghijklmnop | 123456 |"), std::string::npos) << text;
}

TEST_F(TableWriter, RefusesCellsOutOfPlaceWithoutAdvancing) {
  Table::set_output_format(OUTPUT_XML);
  mem_stream out;
  Table t(out.get(), "T");
  t.heading({{"Name", STRING}, {"Count", INTEGER}, {"A", STRING}, {"B", STRING}});
  fd_capture console(1);
  EXPECT_FALSE(t.log_data("early"));
  t.start_row("0");
  EXPECT_FALSE(t.log_data(7));
  EXPECT_TRUE(t.log_data("n"));
  EXPECT_FALSE(t.log_data("x"));
  EXPECT_TRUE(t.log_data(1));
  EXPECT_TRUE(t.log_data("a"));
  EXPECT_TRUE(t.log_data("b"));
  EXPECT_FALSE(t.log_data(5));
  t.end_row();
  EXPECT_FALSE(t.end_row());
  EXPECT_FALSE(t.heading({{"C", STRING}}));
  EXPECT_EQ(console.finish(),
            "log_data(early) - Row not open\n"
            "log_data(7) - Column 0 (Name) is NOT type INTEGER, HEX, FLOAT or BOOL\n"
            "log_data(x) - Column 1 (Count) is NOT type STRING or ASCII STRING\n"
            "log_data(5) - Column 4 is beyond defined columns of 3\n"
            "end_row() - Row Not Open"
            "heading() - Heading Already Written\n");
  EXPECT_EQ(out.text().find("early"), std::string::npos);
  EXPECT_NE(out.text().find("<ZV_NAME>n</ZV_NAME>\r\n<ZV_COUNT>1</ZV_COUNT>"), std::string::npos);
}

TEST_F(TableWriter, RefusesAnEmptyHeadingOnStandardErrorWhenTheReportIsStandardOutput) {
  for (int on_stdout : {0, 1}) {
    int before = gatherer_setting(SETTING_STDOUT, on_stdout ? SETTING_ON : SETTING_OFF);
    mem_stream out;
    Table t(out.get(), "T");
    fd_capture err(2);
    fd_capture console(1);
    EXPECT_FALSE(t.heading(nullptr, 0));
    std::string said = console.finish(), complained = err.finish();
    gatherer_setting(SETTING_STDOUT, SETTING_SET, before);
    EXPECT_EQ(on_stdout ? complained : said, "heading() - No Columns Defined\n");
    EXPECT_EQ(on_stdout ? said : complained, "");
  }
}

TEST_F(TableWriter, ClosesARowLeftOpenSoTheDocumentStaysWellFormed) {
  if (!have_xml_parser()) GTEST_SKIP() << "no XML parser in this build";
  Table::set_output_format(OUTPUT_ZVML);
  mem_stream out;
  start_section(out.get(), "S");
  {
    Table t(out.get(), "T");
    t.heading({{"V", STRING}});
    fd_capture console(1);
    t.start_row("0");
    t.log_data("a");
    t.start_row("1");
    t.log_data("b");
  }
  end_section(out.get());
  zvml_check_result r = check_zvml(as_report(out.text()));
  ASSERT_TRUE(r.parsed) << r.error;
  EXPECT_TRUE(r.mismatches.empty());
  EXPECT_EQ(element_text(r, "ROWS"), "2");
}
