// xml_file_fuzz.cpp - embeds arbitrary bytes (any encoding, UTF-16 with either
// byte order included) as a file record of the checksummed report and checks
// that the record is UTF-8 that XML accepts and that the file cannot end its
// character-data block early.
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "table.h"
#include "xml.h"

namespace {

/// Aborts unless the text is well-formed UTF-8 of characters XML 1.0 allows.
void check_xml_characters(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char b = (unsigned char)s[i];
    int extra = b < 0x80 ? 0 : (b >= 0xC2 && b <= 0xDF) ? 1 : (b >= 0xE0 && b <= 0xEF) ? 2 : (b >= 0xF0 && b <= 0xF4) ? 3 : -1;
    if (extra < 0 || i + extra >= s.size() + (extra ? 0 : 1)) abort();
    uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k <= extra; k++) {
      unsigned char n = (unsigned char)s[i + k];
      if ((n & 0xC0) != 0x80) abort();
      c = c << 6 | (n & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) abort();
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') abort();
    i += 1 + extra;
  }
}

}  // namespace

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
  char* out = nullptr;
  size_t out_size = 0;
  FILE* report = open_memstream(&out, &out_size);
  unsigned sum = xml_log_file(report, "/fuzz/<in>", source, 0);
  fclose(source);
  fclose(report);
  std::string text(out, out_size);
  free(out);

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
  return 0;
}
