// xml_test.cpp - the XML markup writer: tag names, value escaping, UTF-8
// output without characters XML forbids, and sections in every format.
#include "xml.h"

#include "zvtest.h"

#include "report_check.h"
#include "report_fixture.h"
#include "table.h"

namespace {

class XmlWriter : public ReportWriterTest {
 protected:
  void SetUp() override {
    ReportWriterTest::SetUp();
    Table::set_output_format(OUTPUT_XML);
  }
};

/// The text a maker returns, which the caller frees.
template <wchar_t* (*make)(const wchar_t*)>
std::wstring made(const wchar_t* text) {
  wchar_t* t = make(text);
  std::wstring s = t;
  delete[] t;
  return s;
}
const auto tag = made<wide_make_xml_tag>;
const auto value = made<wide_make_xml_value>;

}  // namespace

TEST_F(XmlWriter, MakesTagNamesByTheSwitchesOfEachFormat) {
  EXPECT_EQ(tag(L"/boot Contents"), L"ZV__BOOT_CONTENTS");
  EXPECT_EQ(tag(L"Kernel Command Line"), L"ZV_KERNEL_COMMAND_LINE");
  EXPECT_EQ(tag(L"caf\u00e9 v1.2-x"), L"ZV_CAF__V1.2-X");
  EXPECT_EQ(tag(nullptr), L"ZV_");
  Table::set_output_format(OUTPUT_ORNA);
  EXPECT_EQ(tag(L"InventoryTableRow"), L"InventoryTableRow");
  EXPECT_EQ(tag(L"GATHERED_DATA"), L"GATHERED_DATA");
  Table::set_output_format(OUTPUT_XML_LOWERCASE);
  EXPECT_EQ(Table::get_output_format(), OUTPUT_XML);
  EXPECT_EQ(tag(L"GATHERED_DATA"), L"gathered_data");
  // Without the prefix a name must still be an XML name.
  EXPECT_EQ(tag(L"3com"), L"_3com");
  EXPECT_EQ(tag(L""), L"_");
}

TEST_F(XmlWriter, EscapesTheFiveSpecialCharactersAndNothingElse) {
  EXPECT_EQ(value(L"<a&'c'>\"\t"), L"&lt;a&amp;&apos;c&apos;&gt;&quot;\t");
  EXPECT_EQ(value(nullptr), L"");
}

TEST_F(XmlWriter, WritesUtf8AndReplacesWhatXmlForbids) {
  mem_stream out;
  xml_wide_tag_value(out.get(), "V", L"\u00e9\t\x01\xFFFF\xD800x");
  xml_tag_value(out.get(), "N", "caf\xC3\xA9 \x02");
  EXPECT_EQ(out.text(),
            "<ZV_V>\xC3\xA9\t?\xEF\xBF\xBD\xEF\xBF\xBDx</ZV_V>\r\n"
            "<ZV_N>caf\xC3\xA9 ?</ZV_N>\r\n");
}

TEST_F(XmlWriter, WritesStartTagsAndNamedValuesWithOrWithoutAttributes) {
  mem_stream out;
  xml_open_tag(out.get(), "Row", "1 \"a\"");
  xml_open_tag(out.get(), "Row", nullptr);
  Table::set_output_format(OUTPUT_ZVML);
  xml_named_value(out.get(), "STR", "Col", 0, "v");
  xml_named_value(out.get(), "STR", "Col", 8, nullptr);
  xml_set_attribute_id(nullptr);
  xml_open_tag(out.get(), "ROW", "7");
  xml_close_tag(out.get(), "ROW");
  EXPECT_EQ(out.text(),
            "<ZV_ROW ID=\"1 &quot;a&quot;\">\r\n<ZV_ROW>\r\n"
            "<STR ID=\"Col\">v</STR>\r\n<STR ID=\"Col\" W=\"8\"></STR>\r\n"
            "<ROW>\r\n</ROW>\r\n");
  EXPECT_EQ(xml_file_heading(out.get()) >= 0, true);
}

TEST_F(XmlWriter, FramesSectionsInEveryFormat) {
  struct {
    output_format_type format;
    const char* expected;
  } cases[] = {
      {OUTPUT_TEXT, "\n=====\n  A  \n=====\n\n"},
      {OUTPUT_XML, "<ZV_A>\r\n</ZV_A>\r\n"},
      {OUTPUT_ZVML, "<SECTION ID=\"A\">\r\n<CHK>       0</CHK>\r\n</SECTION>\r\n"},
      {OUTPUT_HTML, "<a name=\"A\"><H2>A</H2></a>\n"},
      {OUTPUT_ORNA, ""},
  };
  for (const auto& c : cases) {
    Table::set_output_format(c.format);
    mem_stream out;
    start_section(out.get(), "A");
    end_section(out.get());
    EXPECT_EQ(out.text(), c.expected) << c.format;
  }
}

TEST_F(XmlWriter, AddsTheSectionChecksumToTheReportChecksum) {
  Table::set_output_format(OUTPUT_ZVML);
  mem_stream out;
  output_checksum = 5;
  start_section(out.get(), "S");
  EXPECT_EQ(section_checksum, 0u);
  section_checksum = 0x1234ABCD;
  end_section(out.get());
  EXPECT_EQ(output_checksum, 0x1234ABD2u);
  EXPECT_NE(out.text().find("<CHK>1234ABCD</CHK>"), std::string::npos);
}

TEST_F(XmlWriter, EverythingWrittenFromHostileTextParses) {
  if (!have_xml_parser()) GTEST_SKIP() << "no XML parser in this build";
  const char* hostile = "<&>\"' \x01\x1b]]> \xff\xfe end";
  for (output_format_type f : {OUTPUT_XML, OUTPUT_ZVML, OUTPUT_ORNA}) {
    Table::set_output_format(f);
    mem_stream out;
    xml_file_heading(out.get());
    xml_open_tag(out.get(), "root", nullptr);
    start_section(out.get(), hostile);
    xml_open_tag(out.get(), hostile, hostile);
    xml_tag_value(out.get(), hostile, hostile);
    xml_named_value(out.get(), hostile, hostile, 3, hostile);
    xml_wide_named_value(out.get(), "W", L"\xDC00\xFFFE", 0, L"\x1F600 \xD83D");
    xml_close_tag(out.get(), hostile);
    end_section(out.get());
    xml_close_tag(out.get(), "root");
    zvml_check_result r = check_zvml(out.text());
    EXPECT_TRUE(r.parsed) << f << ": " << r.error << "\n" << out.text();
  }
}
