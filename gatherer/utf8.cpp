// utf8.cpp - multibyte, wide and UTF-8 text conversions, filters and checksums.
#include "utf8.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <langinfo.h>

#include "debug.h"

namespace {

const wchar_t REPLACEMENT = 0xFFFD;

/// Control characters other than tab, line feed and carriage return have no
/// place in a report; they are written as "?".
bool is_unwanted_control(wchar_t c) { return c >= 0 && c < 32 && c != 9 && c != 10 && c != 13; }

/// Values that are not Unicode characters at all.
bool is_no_character(wchar_t c) {
  long v = static_cast<long>(c);
  return v < 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF);
}

/// Characters that UTF-8 cannot carry or that XML 1.0 forbids: surrogates,
/// U+FFFE, U+FFFF and everything outside the code space.
bool is_unencodable(wchar_t c) {
  return is_no_character(c) || c == 0xFFFE || c == 0xFFFF;
}

/// Encodes one character as UTF-8 into `buf` (4 bytes); returns the length.
unsigned encode_utf8(wchar_t c, unsigned char* buf) {
  if (is_unwanted_control(c)) c = L'?';
  if (is_unencodable(c)) c = REPLACEMENT;
  unsigned long v = static_cast<unsigned long>(c);
  if (v < 0x80) {
    buf[0] = static_cast<unsigned char>(v);
    return 1;
  }
  if (v < 0x800) {
    buf[0] = static_cast<unsigned char>(0xC0 | (v >> 6));
    buf[1] = static_cast<unsigned char>(0x80 | (v & 0x3F));
    return 2;
  }
  if (v < 0x10000) {
    buf[0] = static_cast<unsigned char>(0xE0 | (v >> 12));
    buf[1] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
    buf[2] = static_cast<unsigned char>(0x80 | (v & 0x3F));
    return 3;
  }
  buf[0] = static_cast<unsigned char>(0xF0 | (v >> 18));
  buf[1] = static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F));
  buf[2] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
  buf[3] = static_cast<unsigned char>(0x80 | (v & 0x3F));
  return 4;
}

/// Decodes one UTF-8 sequence at `in` (which is terminated). Stores the
/// character, or U+FFFD for a malformed sequence, and returns the bytes
/// consumed: a malformed sequence consumes its longest valid beginning (at
/// least one byte), so decoding resumes at the first byte that broke it. The
/// terminator is never consumed, so a truncated sequence never reads past it.
size_t decode_utf8(const unsigned char* in, wchar_t* out) {
  unsigned char lead = in[0];
  if (lead < 0x80) {
    *out = lead;
    return 1;
  }
  size_t need;
  unsigned long value;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    *out = REPLACEMENT;
    return 1;
  }
  for (size_t i = 1; i <= need; ++i) {
    unsigned char b = in[i];
    unsigned char lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
    if (b < lo || b > hi) {
      *out = REPLACEMENT;
      return i;
    }
    value = (value << 6) | (b & 0x3F);
  }
  *out = static_cast<wchar_t>(value);
  return need + 1;
}

char* new_zeroed_chars(size_t n) { return new char[n](); }

/// UTF-8 text to wide text for an ASCII locale; a malformed sequence is
/// reported like an invalid multibyte sequence and gives U+FFFD.
void utf8_mbcs_to_wide(const char* in, wchar_t* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
  size_t count = 0;
  while (*p) {
    wchar_t c;
    size_t n = decode_utf8(p, &c);
    if (c == REPLACEMENT && !(n == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD))
      print_error("mbcs: mbrtowc", EILSEQ);
    out[count++] = c;
    p += n;
  }
  out[count] = 0;
}

}  // namespace

bool codeset_is_ascii() {
  const char* set = nl_langinfo(CODESET);
  return set && (strcmp(set, "ANSI_X3.4-1968") == 0 || strcmp(set, "ASCII") == 0 || strcmp(set, "US-ASCII") == 0);
}

wchar_t* displayable_wide(const char* text) {
  wchar_t* wide = mbcs_to_wide(text ? text : "");
  for (wchar_t* p = wide; *p; ++p)
    if ((*p >= 0 && *p < 0x20) || (*p >= 0x7F && *p <= 0x9F)) *p = L'?';
  return wide;
}

wchar_t* mbcs_to_wide(const char* in) {
  if (!in) return nullptr;
  size_t len = strlen(in);
  wchar_t* out = new wchar_t[len + 1];
  // Plain ASCII reads the same in every locale's encoding: no decoder needed.
  size_t ascii = 0;
  while (ascii < len && static_cast<unsigned char>(in[ascii]) < 0x80) {
    out[ascii] = static_cast<unsigned char>(in[ascii]);
    ++ascii;
  }
  if (ascii == len) {
    out[len] = 0;
    return out;
  }
  memset(out, 0, (len + 1) * sizeof *out);
  if (codeset_is_ascii()) {
    utf8_mbcs_to_wide(in, out);
    return out;
  }
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t pos = 0, count = 0;
  while (pos < len) {
    wchar_t c;
    size_t r = mbrtowc(&c, in + pos, len - pos, &state);
    if (r == static_cast<size_t>(-1)) {
      print_error("mbcs: mbrtowc", errno);
      memset(&state, 0, sizeof state);
      out[count++] = REPLACEMENT;
      ++pos;
    } else if (r == static_cast<size_t>(-2)) {
      // The input ends inside a character.
      memset(&state, 0, sizeof state);
      out[count++] = REPLACEMENT;
      ++pos;
    } else if (r == 0) {
      break;
    } else {
      out[count++] = c;
      pos += r;
    }
  }
  out[count] = 0;
  return out;
}

char* wide_to_mbcs(const wchar_t* in) {
  if (!in) return nullptr;
  size_t len = wcslen(in);
  if (codeset_is_ascii()) {
    // Written as UTF-8, the form it was read in.
    char* out = new_zeroed_chars(4 * len + 1);
    size_t pos = 0;
    for (size_t i = 0; i < len; ++i) {
      if (is_no_character(in[i])) {
        errno = EILSEQ;
        print_error("mbcs: wcrtomb", errno);
        out[pos++] = '?';
        continue;
      }
      pos += encode_utf8(in[i], reinterpret_cast<unsigned char*>(out + pos));
    }
    out[pos] = 0;
    return out;
  }
  size_t per_char = MB_CUR_MAX;
  char* out = new_zeroed_chars(per_char * len + 1);
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t pos = 0;
  for (size_t i = 0; i < len; ++i) {
    if (is_unwanted_control(in[i])) {
      out[pos++] = '?';
      continue;
    }
    // Values outside the code space and surrogates are no characters, even
    // where the C library would encode them.
    size_t r = is_no_character(in[i]) ? static_cast<size_t>(-1) : wcrtomb(out + pos, in[i], &state);
    if (r == static_cast<size_t>(-1)) {
      if (is_no_character(in[i])) errno = EILSEQ;
      print_error("mbcs: wcrtomb", errno);
      memset(&state, 0, sizeof state);
      out[pos++] = '?';
    } else {
      pos += r;
    }
  }
  out[pos] = 0;
  return out;
}

const char* wide_to_utf8(const wchar_t* in) {
  if (!in) return nullptr;
  size_t len = wcslen(in);
  // Four bytes cover every character, also those above U+FFFF.
  size_t size = 4 * len + 1;
  unsigned char* out = new unsigned char[size]();
  wide_to_utf8(in, out, size > UINT_MAX ? UINT_MAX : static_cast<unsigned>(size));
  return reinterpret_cast<const char*>(out);
}

unsigned char* wide_to_utf8(const wchar_t* in, unsigned char* out, unsigned int size) {
  if (!out || size == 0) return out;
  out[0] = 0;
  if (!in || size == 1) return out;
  unsigned room = size - 1, used = 0;
  bool overflow_reported = false;
  for (unsigned i = 0; in[i]; ++i) {
    if (in[i] >= 0x20 && in[i] < 0x7F && used < room) {  // printable ASCII: itself
      out[used++] = static_cast<unsigned char>(in[i]);
      continue;
    }
    unsigned char buf[4];
    unsigned n = encode_utf8(in[i], buf);
    if (n > room - used) {
      // Reported once per string: a long text in a small buffer would
      // otherwise flood the log with one message per character.
      if (!overflow_reported) {
        printd("utf8: buffer overflow after %u of %u characters\n", i,
               static_cast<unsigned>(wcslen(in)));
        printd("utf8: the following string doesn't fit in a buffer of %u bytes [%ls]\n", size, in);
        overflow_reported = true;
      }
      continue;
    }
    memcpy(out + used, buf, n);
    used += n;
  }
  out[used] = 0;
  return out;
}

wchar_t* utf8_to_wide(const unsigned char* in) {
  if (!in) return nullptr;
  size_t len = strlen(reinterpret_cast<const char*>(in));
  wchar_t* out = new wchar_t[len + 1]();
  utf8_to_wide(in, out, len + 1 > UINT_MAX ? UINT_MAX : static_cast<unsigned>(len + 1));
  return out;
}

wchar_t* utf8_to_wide(const unsigned char* in, wchar_t* out, unsigned int size) {
  if (!out || size == 0) return out;
  unsigned count = 0;
  if (in) {
    while (*in && count < size - 1) in += decode_utf8(in, &out[count++]);
  }
  out[count] = 0;
  return out;
}

char* sanitised_ascii(const char* in) {
  if (!in) return nullptr;
  size_t len = strlen(in);
  char* out = new_zeroed_chars(len + 1);
  for (size_t i = 0; i < len; ++i) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    out[i] = (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '?';
  }
  return out;
}

wchar_t* wide_sanitised_ascii(const wchar_t* in) {
  if (!in) return nullptr;
  size_t len = wcslen(in);
  wchar_t* out = new wchar_t[len + 1]();
  for (size_t i = 0; i < len; ++i) out[i] = (in[i] >= 32 && in[i] <= 126) ? in[i] : L'?';
  return out;
}

char* make_Teldrin_name(const char* in) {
  if (!in) return nullptr;
  size_t len = strlen(in);
  char* out = new_zeroed_chars(len + 1);
  for (size_t i = 0; i < len; ++i) {
    char c = in[i];
    if (c >= 'a' && c <= 'z')
      out[i] = static_cast<char>(c - 32);
    else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
      out[i] = c;
    else
      out[i] = '_';
  }
  return out;
}

void filter_alphanumeric(char* s, char replacement) {
  if (!s) return;
  for (; *s; ++s)
    if (!isalnum(static_cast<unsigned char>(*s))) *s = replacement;
}

wchar_t* filter_filename(wchar_t* s, wchar_t replacement) {
  if (!s) return s;
  for (wchar_t* p = s; *p; ++p)
    if (*p < 32 || wcschr(L"\"*/<>?\\|", *p)) *p = replacement;
  return s;
}

void convert_to_uppercase(char* s) {
  if (!s) return;
  for (; *s; ++s) *s = static_cast<char>(toupper(static_cast<unsigned char>(*s)));
}

unsigned short string_checksum(const char* s) {
  unsigned short sum = 0;
  if (!s) return 0;
  for (; *s; ++s) sum = static_cast<unsigned short>(sum + static_cast<unsigned short>(static_cast<signed char>(*s)));
  return sum;
}

unsigned short wide_string_checksum(const wchar_t* s) {
  unsigned short sum = 0;
  if (!s) return 0;
  for (; *s; ++s) sum = static_cast<unsigned short>(sum + (static_cast<unsigned long>(*s) & 0xFFFF));
  return sum;
}
