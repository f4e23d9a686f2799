// xml_file_test.cpp - embedded file records and the import of another run's
// checksummed report.
#include "zvtest.h"

#include "report_check.h"
#include "report_fixture.h"
#include "table.h"
#include "xml.h"

namespace {

using FileRecord = ReportWriterTest;

/// An open read stream over a byte string (closed by the caller).
FILE* source_of(const std::string& bytes) {
  return fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
}

std::string record_of(output_format_type format, const std::string& bytes, const char* name = "/etc/x") {
  Table::set_output_format(format);
  mem_stream out;
  FILE* src = source_of(bytes);
  log_file(out.get(), name, src);
  fclose(src);
  return out.text();
}

uint32_t byte_sum(const std::string& s, size_t from = 0) {
  uint32_t sum = 0;
  for (size_t i = from; i < s.size(); i++) sum += (unsigned char)s[i];
  return sum;
}

/// A small checksummed report written by the writers themselves.
std::string sample_report() {
  Table::set_output_format(OUTPUT_ZVML);
  output_checksum = 0;
  mem_stream out;
  xml_file_heading(out.get());
  xml_open_tag(out.get(), data_tag, nullptr);
  start_section(out.get(), "Earlier run");
  {
    Table t(out.get(), "T");
    t.heading({{"V", STRING}});
    t.start_row("0");
    t.log_data("caf\xC3\xA9 -- x");
    t.end_row();
  }
  end_section(out.get());
  char chk[16];
  snprintf(chk, sizeof chk, "%8X", (unsigned)output_checksum);
  xml_tag_value(out.get(), "CHK", chk);
  xml_close_tag(out.get(), data_tag);
  output_checksum = 0;
  return out.text();
}

const std::string DECLARATION = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

}  // namespace

TEST_F(FileRecord, ShowsHtmlFileTextAsItIs) {
  if (!have_xmllint()) GTEST_SKIP() << "xmllint not installed";
  std::string page = "<html><body>" + record_of(OUTPUT_HTML, "<script>x</script>&amp;") + "</body></html>";
  EXPECT_NE(html_xpath(page, "string(//pre)").find("<script>x</script>&amp;"), std::string::npos);
  EXPECT_EQ(html_xpath(page, "count(//script)"), "0");
}

TEST_F(FileRecord, WritesTheRecordAroundTheFileInEachFormat) {
  const struct {
    output_format_type format;
    const char *bytes, *name, *expected;
  } cases[] = {
      {OUTPUT_TEXT, "ab\n", "/etc/x", "\n---> FILE: /etc/x <---\nab\n---> END OF FILE <---\n"},
      {OUTPUT_HTML, "<b>&</b>\n", "/etc/<y>",
       "<H3>/etc/&lt;y&gt;</H3>\n<PRE>\n\n---> FILE: /etc/&lt;y&gt; <---\n"
       "&lt;b&gt;&amp;&lt;/b&gt;\n---> END OF FILE <---\n</PRE>\n"},
      {OUTPUT_XML, "ab", "/etc/x", "<ZV_FILE name=\"/etc/x\">\r\n<![CDATA[ab]]>\r\n</ZV_FILE>\r\n"},
      {OUTPUT_XML_LOWERCASE, "ab", "/etc/x", "<file name=\"/etc/x\">\r\n<![CDATA[ab]]>\r\n</file>\r\n"},
      {OUTPUT_ZVML, "ab", "/etc/x", "<FILE ID=\"/etc/x\">\r\n<![CDATA[ab]]>\r\n<CHK>      C3</CHK>\r\n</FILE>\r\n"},
  };
  for (const auto& c : cases) {
    section_checksum = 0;
    EXPECT_EQ(record_of(c.format, c.bytes, c.name), c.expected) << c.format;
  }
  EXPECT_EQ(section_checksum, 0xC3u);  // of the last, checksummed record
}

TEST_F(FileRecord, WritesAnEmptyRecordForAFileThatCannotBeOpened) {
  Table::set_output_format(OUTPUT_ZVML);
  mem_stream out;
  EXPECT_TRUE(log_file(out.get(), "/nonexistent/x"));
  EXPECT_EQ(out.text(), "<FILE ID=\"/nonexistent/x\">\r\n<CHK>       0</CHK>\r\n</FILE>\r\n");
  for (output_format_type f : {OUTPUT_TEXT, OUTPUT_HTML, OUTPUT_ORNA}) {
    Table::set_output_format(f);
    mem_stream other;
    EXPECT_FALSE(log_file(other.get(), "/nonexistent/x")) << f;
    EXPECT_EQ(other.text(), "") << f;
  }
  EXPECT_FALSE(log_file(nullptr, "/etc/x"));
}

TEST_F(FileRecord, NeverBlocksOnAFifo) {
  zvtest::temp_dir dir;
  std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  mem_stream out;
  Table::set_output_format(OUTPUT_TEXT);
  EXPECT_FALSE(log_file(out.get(), fifo.c_str()));
  Table::set_output_format(OUTPUT_ZVML);
  EXPECT_FALSE(log_zvml_file(out.get(), fifo.c_str()));
}

TEST_F(FileRecord, ConvertsTheFileTextAndChecksumsWhatItWrote) {
  const std::string split = std::string(1023, 'a') + "\xC3\xA9" + std::string(1975, 'b');  // 3000 bytes
  const struct {
    const char* what;
    std::string file, cdata;
    uint32_t checksum;
  } cases[] = {
      {"a character split across blocks is carried over", split,
       "<![CDATA[" + std::string(1023, 'a') + "\xC3\xA9" + std::string(1975, 'b') + "]]>",
       1023u * 'a' + 0xE9u + 1975u * 'b'},
      {"a malformed byte is summed as the U+FFFD written", "x\xFFy", "<![CDATA[x\xEF\xBF\xBDy]]>", 'x' + 0xFFFDu + 'y'},
      {"the same character inside a block", "x\xC3\xA9y", "<![CDATA[x\xC3\xA9y]]>", 'x' + 0xE9u + 'y'},
      {"a CDATA end inside the file is split", "x]]>y]]]>z", "<![CDATA[x]]]]><![CDATA[>y]]]]]><![CDATA[>z]]>",
       byte_sum("x]]>y]]]>z")},
      {"zero and control bytes are written and summed as ?", std::string("a\0b\x01\tc", 6), "<![CDATA[a?b?\tc]]>",
       'a' + '?' + 'b' + '?' + '\t' + 'c'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    section_checksum = 0;
    std::string out = record_of(OUTPUT_ZVML, c.file);
    EXPECT_NE(out.find(c.cdata), std::string::npos) << out.substr(0, 200);
    EXPECT_EQ(section_checksum, c.checksum);
    EXPECT_TRUE(!have_xml_parser() || check_zvml("<R>" + out + "</R>").parsed);
  }
  if (have_xml_parser()) {  // the split CDATA end reads back whole, after the start tag's line end
    zvml_check_result r = check_zvml("<R>" + record_of(OUTPUT_ZVML, "x]]>y]]]>z") + "</R>");
    EXPECT_TRUE(r.mismatches.empty());
    EXPECT_EQ(element_text(r, "FILE").find("x]]>y]]]>z"), 1u);
  }
}

TEST_F(FileRecord, DecodesUtf16WithPairsAcrossBlocksAndReplacesBrokenUnits) {
  std::string le = "\xFF\xFE";
  for (int i = 0; i < 510; i++) le += std::string("A\0", 2);
  le += "\x3D\xD8";                  // high surrogate, last unit of the first block
  le += std::string("\x00\xDE", 2);  // low surrogate, first unit of the second block
  le += std::string("\x00\xDC", 2);  // a lone low surrogate
  le += std::string("B\0", 2);
  le += "\xFF\xFF";                  // U+FFFF
  le += "C";                         // an odd last byte
  std::string out = record_of(OUTPUT_ZVML, le);
  std::string text = "\xEF\xBB\xBF" + std::string(510, 'A') + "\xF0\x9F\x98\x80" + "\xEF\xBF\xBD" + "B" +
                     "\xEF\xBF\xBD\xEF\xBF\xBD";
  EXPECT_NE(out.find("<![CDATA[" + text + "]]>"), std::string::npos);
  EXPECT_EQ(section_checksum, 0xFEFFu + 510u * 'A' + 0x1F600u + 0xFFFDu + 'B' + 0xFFFDu + 0xFFFDu);

  section_checksum = 0;
  std::string be("\xFE\xFF\x00\x41\xD8\x3D\xDE\x00", 8);
  EXPECT_NE(record_of(OUTPUT_ZVML, be).find("<![CDATA[\xEF\xBB\xBF" "A\xF0\x9F\x98\x80]]>"), std::string::npos);
}

TEST_F(FileRecord, ImportsAnEarlierReportInsideTheCurrentOne) {
  if (!have_xml_parser()) GTEST_SKIP() << "no XML parser in this build";
  std::string earlier = sample_report();
  temp_file file(earlier);
  Table::set_output_format(OUTPUT_ZVML);
  mem_stream out;
  xml_file_heading(out.get());
  xml_open_tag(out.get(), data_tag, nullptr);
  start_section(out.get(), "Now");
  FILE* src = source_of("ab\n");
  EXPECT_TRUE(log_file(out.get(), "/etc/x", src));
  fclose(src);
  end_section(out.get());
  EXPECT_TRUE(log_zvml_file(out.get(), file.path()));
  EXPECT_EQ(output_checksum, byte_sum("ab\n") + byte_sum(earlier, DECLARATION.size()));
  char chk[16];
  snprintf(chk, sizeof chk, "%8X", (unsigned)output_checksum);
  xml_tag_value(out.get(), "CHK", chk);
  xml_close_tag(out.get(), data_tag);
  std::string report = out.text();
  EXPECT_NE(report.find("<!-- import " + std::string(file.path()) + " -->\r\n" + earlier.substr(DECLARATION.size()) +
                        "<!-- end of import -->\r\n"),
            std::string::npos);
  zvml_check_result r = check_zvml(report);
  ASSERT_TRUE(r.parsed) << r.error;
  EXPECT_TRUE(r.mismatches.empty()) << r.mismatches[0];
  EXPECT_EQ(r.checks, 8);  // file, section, report; imported: row, ROWS, table, section, report
}

// What is imported: the byte sum of the text as written (after a byte order
// mark, from UTF-16, on one line) and the import comments around it.
TEST_F(FileRecord, ImportsTheReportBodySummedAsWritten) {
  zvtest::temp_dir dir;
  std::string body = "<GATHERED_DATA>" + std::string(3000, 'x') + "</GATHERED_DATA>", utf16 = "\xFF\xFE";
  for (unsigned char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<A>\xE9</A>"))
    utf16 += std::string(1, (char)c) + std::string(1, '\0');
  const struct {
    const char *name, *content;  // a name with dashes is quoted in the comment
    std::string file, written;
  } cases[] = {
      {"a--b---.xml", "a- -b- - -.xml", "\xEF\xBB\xBF" + DECLARATION + "<A/>", "<A/>"},
      {"one-line.xml", "one-line.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body, body},
      {"wide.xml", "wide.xml", utf16, "<A>\xC3\xA9</A>"},
  };
  Table::set_output_format(OUTPUT_ZVML);
  for (const auto& c : cases) {
    ASSERT_TRUE(zvtest::write_file(dir.path(), c.name, c.file));
    mem_stream out;
    EXPECT_EQ(xml_log_zvml_file(out.get(), dir.file(c.name).c_str()), byte_sum(c.written)) << c.name;
    EXPECT_EQ(out.text(), "<!-- import " + dir.path() + "/" + c.content + " -->\r\n" + c.written +
                              "<!-- end of import -->\r\n");
  }
}

TEST_F(FileRecord, RefusesAnImportForItsDeclarationSayingWhichPart) {
  Table::set_output_format(OUTPUT_ZVML);
  const struct {
    const char* text;
    const char* said;
  } cases[] = {
      {"<A/>", "Not imported: line 1 is no <?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
      {"", "Not imported: line 1 is no <?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
      {"<GATHERED_DATA>\n<A/>", "Not imported: line 1 is no <?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
      {"<?xml version=\"1.1\" encoding=\"UTF-8\"?><A/>", "Not imported: XML version 1.1, 1.0 expected"},
      {"<?xml version=\"1.0\" encoding=\"latin1\"?>\n<A/>", "Not imported: encoding latin1, UTF-8 expected"},
      {"<?xml version=\"1.0\" encoding=\"bo\x01gus\"?><A/>", "Not imported: encoding bo?gus, UTF-8 expected"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"\n?><A/>",
       "Not imported: the XML declaration does not end on line 1"},
  };
  for (const auto& c : cases) {
    temp_file file(c.text);
    mem_stream out;
    output_checksum = 7;
    EXPECT_EQ(xml_log_zvml_file(out.get(), file.path()), 0u) << c.text;
    EXPECT_FALSE(log_zvml_file(out.get(), file.path())) << c.text;
    EXPECT_EQ(output_checksum, 7u);
    EXPECT_EQ(out.text(), "");
    EXPECT_STREQ(xml_import_refusal(), c.said);
  }
  // A missing file, and any form but the checksummed one, import nothing.
  mem_stream out;
  EXPECT_FALSE(log_zvml_file(out.get(), "/nonexistent/report.xml"));
  Table::set_output_format(OUTPUT_XML);
  temp_file good(DECLARATION + "<A/>");
  EXPECT_FALSE(log_zvml_file(out.get(), good.path()));
  EXPECT_EQ(out.text(), "");
}

TEST_F(FileRecord, RefusesAnImportThatIsNotWellFormedWithTheParsersWords) {
  Table::set_output_format(OUTPUT_ZVML);
  for (std::string body : {"<A>\x01</A>", "<A/></GATHERED_DATA>", "<A><!-- open </A>", "<A/><?xml version=\"1.0\"?>",
                           "<!DOCTYPE A [<!ENTITY e \"x\">]><A>&e;</A>", "<A>]]></A>", "<A>\xFF</A>", "",
                           "<A/>\n<B/>"}) {
    temp_file file(DECLARATION + body);
    mem_stream out;
    output_checksum = 7;
    EXPECT_FALSE(log_zvml_file(out.get(), file.path())) << body;
    EXPECT_EQ(out.text(), "") << body;
    EXPECT_EQ(output_checksum, 7u);
    EXPECT_EQ(std::string(xml_import_refusal()).rfind("Not well-formed: ", 0), 0u) << xml_import_refusal();
  }
}

// A file longer than the bound is cut there, in every form, with a note in
// its record that the checksum covers; a file of exactly the bound is whole.
TEST_F(FileRecord, AFileIsCutAtItsBoundWithANote) {
  const std::string note = "\n---> FILE CUT AT 4 BYTES <---\n";
  const struct {
    output_format_type format;
    std::string bytes, wanted;
  } cases[] = {
      {OUTPUT_ZVML, "abcdef", "<![CDATA[abcd" + note + "]]>"},
      {OUTPUT_ZVML, "abcd", "<![CDATA[abcd]]>"},
      {OUTPUT_TEXT, "abcdef", "abcd" + note + "---> END OF FILE"},
      {OUTPUT_TEXT, "abcd", "abcd---> END OF FILE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes + " " + std::to_string(c.format));
    Table::set_output_format(c.format);
    mem_stream out;
    FILE* src = source_of(c.bytes);
    section_checksum = 0;
    EXPECT_TRUE(log_file(out.get(), "/etc/x", src, 4));
    fclose(src);
    EXPECT_NE(out.text().find(c.wanted), std::string::npos) << out.text();
    if (c.format == OUTPUT_ZVML) {
      std::string kept = c.wanted.substr(9, c.wanted.size() - 12);
      EXPECT_EQ(section_checksum, byte_sum(kept));
    }
  }
}
