// filename.cpp - expands the "@" macros of the output file name template.
#include "filename.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "debug.h"
#include "osinfo.h"
#include "sysinfo.h"
#include "utf8.h"
#include "util_string.h"

namespace {

/// Buffer for a value built here; SysInfo values are cut to the same size.
constexpr int VALUE_SIZE = 256;

}  // namespace

void drop_partial_character(char* s) {
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t len = strlen(s), pos = 0;
  while (pos < len) {
    size_t r = mbrlen(s + pos, len - pos, &state);
    if (r == static_cast<size_t>(-2)) {
      s[pos] = '\0';
      return;
    }
    if (r == static_cast<size_t>(-1)) {
      memset(&state, 0, sizeof state);
      r = 1;  // an invalid byte stays; the wide conversion marks it
    }
    if (r == 0) break;
    pos += r;
  }
}

namespace {

/// Copies at most VALUE_SIZE - 1 bytes of text (null: empty) into buf.
void copy_value(char* buf, const char* text) {
  snprintf(buf, VALUE_SIZE, "%s", text ? text : "");
  drop_partial_character(buf);
}

void local_time_text(char* buf) {
  time_t now = time(nullptr);
  struct tm t;
  memset(&t, 0, sizeof t);
  localtime_r(&now, &t);
  snprintf(buf, VALUE_SIZE, "%04u%02u%02u-%02u%02u%02u", static_cast<unsigned>(t.tm_year + 1900),
           static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday),
           static_cast<unsigned>(t.tm_hour), static_cast<unsigned>(t.tm_min),
           static_cast<unsigned>(t.tm_sec));
}

/// Fills buf with the narrow value of a letter; false for an unknown letter.
bool macro_text(wchar_t letter, char* buf) {
  buf[0] = '\0';
  SysInfo* sys = nullptr;
  if (letter == L'C' || letter == L'H' || letter == L'M' || letter == L'S' || letter == L'U' ||
      letter == L'V') {
    os_info::get_instance();
    sys = SysInfo::get_instance();
  }
  switch (letter) {
    case L'C':
    case L'H': copy_value(buf, sys->NodeName()); break;
    case L'V': copy_value(buf, sys->OEM()); break;
    case L'M': copy_value(buf, sys->Model()); break;
    case L'S': copy_value(buf, sys->Serial()); break;
    case L'U': copy_value(buf, sys->UUID()); break;
    case L'D': get_user_desktop(buf, VALUE_SIZE); break;  // empty when HOME is unset
    case L'K': break;                                     // no workstation domain on Linux
    case L'L': get_current_user(buf, VALUE_SIZE); break;
    case L'O': os_info::get_instance()->get_name(buf, VALUE_SIZE); break;
    case L'T': local_time_text(buf); break;
    default: return false;
  }
  buf[VALUE_SIZE - 1] = '\0';
  drop_partial_character(buf);
  return true;
}

/// Appends the multibyte form of name to out while it fits in room bytes,
/// whole characters only. Returns the bytes used.
size_t append_whole_characters(const wchar_t* name, char* out, size_t room) {
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t used = 0;
  char one[MB_LEN_MAX];
  for (const wchar_t* p = name; *p; ++p) {
    mbstate_t before = state;
    size_t n = wcrtomb(one, *p, &state);
    if (n == static_cast<size_t>(-1)) {
      state = before;
      one[0] = '_';  // not representable in this locale
      n = 1;
    }
    if (n > room - used) break;
    memcpy(out + used, one, n);
    used += n;
  }
  return used;
}

}  // namespace

bool filename_char_is_unsafe(wchar_t c) {
  return (c >= 0 && c < 32) || c == 127 || (c != 0 && wcschr(L"\"*/<>?\\|", c) != nullptr);
}

wchar_t* gatherer_expand_filename_macro(wchar_t letter) {
  char buf[VALUE_SIZE];
  if (!macro_text(letter, buf)) return new wchar_t[1]();
  wchar_t* value = mbcs_to_wide(buf);
  return value ? value : new wchar_t[1]();
}

void gatherer_generate_filename(const char* tmpl, const char* suffix, char* out, int size) {
  if (!out || size <= 0) return;
  out[0] = '\0';
  wchar_t* wide_template = mbcs_to_wide(tmpl ? tmpl : "");
  wchar_t* wide_suffix = mbcs_to_wide(suffix ? suffix : "");
  long room = static_cast<long>(size) - static_cast<long>(wcslen(wide_suffix)) - 1;
  std::wstring name;
  for (const wchar_t* p = wide_template; *p && static_cast<long>(name.size()) < room; ++p) {
    if (*p != L'@') {
      name += *p;
      continue;
    }
    wchar_t letter = p[1];
    if (letter) ++p;  // an "@" at the very end expands to nothing
    wchar_t* value = gatherer_expand_filename_macro(letter);
    if (letter != L'D')
      for (wchar_t* v = value; *v; ++v)
        if (filename_char_is_unsafe(*v)) *v = L' ';
    size_t left = static_cast<size_t>(room) - name.size();
    name.append(value, wcsnlen(value, left));
    delete[] value;
  }
  // The byte budget decides: the suffix first, then as much of the name as
  // fits in whole characters in front of it.
  char* narrow_suffix = wide_to_mbcs(wide_suffix);
  size_t suffix_bytes = strlen(narrow_suffix);
  size_t capacity = static_cast<size_t>(size) - 1;
  if (suffix_bytes > capacity) {
    size_t used = append_whole_characters(wide_suffix, out, capacity);
    out[used] = '\0';
  } else {
    size_t used = append_whole_characters(name.c_str(), out, capacity - suffix_bytes);
    memcpy(out + used, narrow_suffix, suffix_bytes + 1);
  }
  delete[] narrow_suffix;
  delete[] wide_template;
  delete[] wide_suffix;
  printd("gatherer: Gatherer Filename: %s\n", out);
}
