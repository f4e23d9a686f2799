// xml_file_fuzz.cpp - embeds arbitrary bytes (any encoding, UTF-16 with either
// byte order included) as a file record of the checksummed report and checks
// that the record is UTF-8 that XML accepts and that the file cannot end its
// character-data block early, and that the record's checksum is the sum of
// the characters it wrote.
#include "fuzz_support.h"
#include "table.h"
#include "xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    setlocale(LC_ALL, "C.UTF-8");
    Table::set_output_format(OUTPUT_ZVML);
    ready = true;
  }
  std::string input((const char*)data, size);
  FILE* source = fmemopen(input.empty() ? (char*)"" : &input[0], input.size(), "rb");
  if (!source) return 0;
  unsigned sum = 0;
  std::string text = written_text([&](FILE* report) { sum = xml_log_file(report, "/fuzz/<in>", source, 0); });
  fclose(source);

  check_xml_characters(text);
  // The record: start tag, one block split only where the file held "]]>",
  // the checksum element and the end tag.
  const std::string open = "<![CDATA[";
  size_t start = text.find(open);
  if (start == std::string::npos) abort();
  char tail[64];
  snprintf(tail, sizeof tail, "]]>\r\n<CHK>%8X</CHK>\r\n</FILE>\r\n", sum);
  if (text.size() < strlen(tail) || text.compare(text.size() - strlen(tail), std::string::npos, tail) != 0) abort();
  size_t end = text.size() - strlen(tail);
  for (size_t p = text.find("]]>", start); p != std::string::npos && p < end; p = text.find("]]>", p + 1))
    if (text.compare(p + 3, open.size(), open) != 0) abort();
  // The characters written, the block splits left out, summed as code points.
  std::string body = text.substr(start + open.size(), end - start - open.size());
  for (size_t p = 0; (p = body.find("]]>" + open, p)) != std::string::npos; p++) body.erase(p, 3 + open.size());
  uint32_t written = 0;
  for_each_code_point(body, [&](uint32_t c) { written += c; });
  if (written != sum) abort();
  return 0;
}
