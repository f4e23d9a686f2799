// filename.cpp - expands the "@" macros of the output file name template.
#include "filename.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "clock.h"
#include "debug.h"
#include "mask.h"
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
  struct tm t;
  memset(&t, 0, sizeof t);
  clock_local(clock_now(), &t);
  snprintf(buf, VALUE_SIZE, "%04u%02u%02u-%02u%02u%02u", static_cast<unsigned>(t.tm_year + 1900),
           static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday),
           static_cast<unsigned>(t.tm_hour), static_cast<unsigned>(t.tm_min),
           static_cast<unsigned>(t.tm_sec));
}

/// The value of a letter as "-mask" lets it out: names, serial and UUID as
/// their tokens.
void mask_macro(wchar_t letter, char* buf) {
  mask_kind kind = letter == L'C' || letter == L'H' ? MASK_HOST
                   : letter == L'S'                 ? MASK_SERIAL
                   : letter == L'U'                 ? MASK_UUID
                   : letter == L'L'                 ? MASK_USER
                   : letter == L'D'                 ? MASK_HOME
                                                    : MASK_NONE;
  std::string masked = kind != MASK_NONE ? mask_value(kind, buf) : mask_text(buf);
  copy_value(buf, masked.c_str());
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
  if (mask_enabled()) mask_macro(letter, buf);
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
  if (!tmpl) tmpl = "";
  if (!suffix) suffix = "";
  size_t capacity = static_cast<size_t>(size) - 1;
  size_t suffix_bytes = strlen(suffix);
  if (suffix_bytes > capacity) {
    wchar_t* wide_suffix = mbcs_to_wide(suffix);
    size_t used = wide_suffix ? append_whole_characters(wide_suffix, out, capacity) : 0;
    out[used] = '\0';
    delete[] wide_suffix;
    printd("gatherer: Gatherer Filename: %s\n", out);
    return;
  }
  // The template's own text is kept byte for byte (it reaches the file
  // system as given); only the "@" values are converted and cleaned. "@" is
  // the same byte in every encoding in use, so the bytes split safely there.
  size_t room = capacity - suffix_bytes;
  std::string name;
  bool cut = false;
  mbstate_t state;
  memset(&state, 0, sizeof state);
  for (const char* p = tmpl; *p && !cut; ++p) {
    if (*p != '@') {
      name += *p;
      continue;
    }
    wchar_t letter = 0;
    if (p[1]) {
      // The letter is one character, whatever its length in bytes.
      size_t n = mbrtowc(&letter, p + 1, strlen(p + 1), &state);
      if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
        memset(&state, 0, sizeof state);
        letter = static_cast<unsigned char>(p[1]);
        n = 1;
      }
      p += n;
    }
    wchar_t* value = gatherer_expand_filename_macro(letter);
    if (letter != L'D')
      for (wchar_t* v = value; *v; ++v)
        if (filename_char_is_unsafe(*v)) *v = L' ';
    size_t used = name.size();
    if (used < room) {
      std::string part(room - used + MB_LEN_MAX, '\0');
      size_t n = append_whole_characters(value, &part[0], room - used);
      name.append(part, 0, n);
    } else {
      cut = true;
    }
    delete[] value;
    if (name.size() >= room) cut = true;
  }
  // Values never make a hidden file or one whose name is all blanks (a host
  // name of blanks): such a name is "Unknown", a leading dot of a value "_".
  if (strchr(tmpl, '@')) {
    if (name.find_first_not_of(' ') == std::string::npos)
      name = "Unknown";
    else if (name[0] == '.' && tmpl[0] != '.')
      name[0] = '_';
  }
  // The byte budget decides: the suffix stays whole, the name is cut in
  // front of it at a character boundary.
  if (name.size() > room) {
    std::vector<char> head(name.begin(), name.begin() + static_cast<long>(room));
    head.push_back('\0');
    drop_partial_character(head.data());
    name = head.data();
  }
  memcpy(out, name.data(), name.size());
  memcpy(out + name.size(), suffix, suffix_bytes + 1);
  printd("gatherer: Gatherer Filename: %s\n", out);
}
