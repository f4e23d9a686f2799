// bios.cpp - the BIOS version scan of the BIOS segment and the SMAPI call.
#include "bios.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "debug.h"
#include "dmi.h"

namespace {

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

/// Bytes that cannot be part of a version text: control bytes, bytes of
/// 0x80 and above, and the "$" that BIOS tables put around their texts.
bool is_delimiter(unsigned char c) { return c < 0x20 || c >= 0x80 || c == '$'; }

bool has_version_marker(const char* text) {
  static const char* const words[] = {"Ver", "Rev", "Rel"};
  for (const char* w : words)
    if (strstr(text, w)) return true;
  for (char d = '0'; d <= '9'; d++) {
    char compact[3] = {'v', d, 0};
    char spaced[4] = {'v', ' ', d, 0};
    if (strstr(text, compact) || strstr(text, spaced)) return true;
  }
  return false;
}

/// The text around the "number.number" at `dot`, between the nearest
/// delimiters on both sides; null when either side has none.
char* text_around(const unsigned char* segment, unsigned long length, unsigned long dot) {
  unsigned long start = dot - 1;
  for (;;) {
    if (start == 0) return nullptr;
    if (is_delimiter(segment[start - 1])) break;
    start--;
  }
  printd("bios: Start found at %lx\n", start);
  unsigned long end = dot + 2;
  while (end < length && !is_delimiter(segment[end])) end++;
  if (end >= length) return nullptr;
  char* text = new char[end - start + 1];
  memcpy(text, segment + start, end - start);
  text[end - start] = 0;
  return text;
}

}  // namespace

char* find_bios_version(const unsigned char* segment, unsigned long length) {
  for (unsigned long p = 2; p + 1 < length; p++) {
    if (segment[p] != '.') continue;
    printd("bios: dot found at offset %lx\n", p);
    if (!is_digit(segment[p - 1]) || !is_digit(segment[p + 1])) continue;
    printd("bios: number dot number found at %lx\n", p);
    char* text = text_around(segment, length, p);
    if (!text) continue;
    if (has_version_marker(text)) return text;
    delete[] text;
  }
  return nullptr;
}

char* get_bios_version() {
  printd("bios: scanning for bios version\n");
  std::vector<unsigned char> segment(Dmi::BIOS_SEGMENT_SIZE);
  if (!copy_physical_memory(Dmi::BIOS_SEGMENT, segment.data(), (int)segment.size())) return nullptr;
  return find_bios_version(segment.data(), segment.size());
}

bool call_SMAPI(smapi_regs* regs) {
  (void)regs;
  // The interface is found through the signature "IS" at a port named in
  // CMOS; CMOS is not read on this platform, so the signature never matches.
  int result = 0;
  printd("linux returning %d\n", result);
  return false;
}

char* smapi_format_h8_version(const smapi_regs& regs, char* buffer, int size) {
  if (!buffer || size <= 0) return buffer;
  buffer[0] = 0;
  unsigned rc = (regs.eax >> 8) & 0xFF;
  if (rc != 0) {
    printd("smapi: Function Failed with RC %02x\n", rc);
    return buffer;
  }
  unsigned c_hi = (regs.ecx >> 8) & 0xFF, c_lo = regs.ecx & 0xFF;
  unsigned d_hi = (regs.edx >> 8) & 0xFF, d_lo = regs.edx & 0xFF;
  if (regs.eax & 1)
    snprintf(buffer, size, "%d.%02d", (int)c_hi, (int)c_lo);
  else if (d_lo != 0)
    snprintf(buffer, size, "%c.%c%c%c", (int)c_hi, (int)c_lo, (int)d_hi, (int)d_lo);
  else
    snprintf(buffer, size, "%c.%c%c", (int)c_hi, (int)c_lo, (int)d_hi);
  return buffer;
}

char* smapi_get_h8_version(char* buffer, int size) {
  if (!buffer || size <= 0) return buffer;
  buffer[0] = 0;
  smapi_regs regs = {};
  regs.ebx = 6;  // function 6: embedded controller version
  if (!call_SMAPI(&regs)) return buffer;
  return smapi_format_h8_version(regs, buffer, size);
}
