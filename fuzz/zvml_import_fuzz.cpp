// zvml_import_fuzz.cpp - imports arbitrary files as earlier checksummed
// reports. A rejected file adds nothing; an accepted one is framed by the two
// import comments and reaches the report only as UTF-8 that XML accepts.
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "table.h"
#include "xml.h"

namespace {

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

/// The input file lives in memory-backed storage where there is some: every
/// run rewrites it.
std::string temp_path() {
  char shm[] = "/dev/shm/zvimportfuzzXXXXXX";
  char tmp[] = "/tmp/zvimportfuzzXXXXXX";
  int fd = mkstemp(shm);
  char* name = shm;
  if (fd < 0) {
    fd = mkstemp(tmp);
    name = tmp;
  }
  if (fd < 0) abort();
  close(fd);
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path;
  if (path.empty()) {
    setlocale(LC_ALL, "C.UTF-8");
    Table::set_output_format(OUTPUT_ZVML);
    path = temp_path();
    atexit([] { unlink(path.c_str()); });
  }
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size) fwrite(data, 1, size, f);
  fclose(f);

  char* out = nullptr;
  size_t out_size = 0;
  FILE* report = open_memstream(&out, &out_size);
  output_checksum = 0;
  bool accepted = log_zvml_file(report, path.c_str());
  fclose(report);
  std::string text(out, out_size);
  free(out);

  if (!accepted) {
    if (!text.empty() || output_checksum != 0) abort();
    return 0;
  }
  if (output_checksum == 0) abort();
  check_xml_characters(text);
  std::string head = "<!-- import " + path + " -->\r\n";
  const std::string end = "<!-- end of import -->\r\n";
  if (text.compare(0, head.size(), head) != 0) abort();
  if (text.size() < head.size() + end.size() || text.compare(text.size() - end.size(), end.size(), end) != 0) abort();
  return 0;
}
