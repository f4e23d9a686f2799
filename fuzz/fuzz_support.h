// fuzz_support.h - small helpers shared by the fuzz harnesses.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

/// Aborts unless the text is well-formed UTF-8 of characters XML 1.0 allows.
inline void check_xml_characters(const std::string& s) {
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

/// Creates an empty temporary file named after `stem`, in memory-backed
/// storage where there is some (every run rewrites it), and returns its name
/// with the file left open in *fd. Aborts when no file can be made.
inline std::string make_temp_file(const std::string& stem, int* fd) {
  for (const char* dir : {"/dev/shm/", "/tmp/"}) {
    std::string name = dir + stem + "XXXXXX";
    *fd = mkstemp(&name[0]);
    if (*fd >= 0) return name;
  }
  abort();
}
