// util_glob.cpp - wildcard matching of names against patterns ("*" and "?").
#include "util_glob.h"

#include <cctype>
#include <cwctype>

#include "utf8.h"

namespace {

wchar_t fold(wchar_t c) { return static_cast<wchar_t>(towupper(static_cast<wint_t>(c))); }
char fold(char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); }

// The match keeps one back-tracking point, the last "*" seen: on a mismatch
// the star takes one more character of the text and the rest is tried again.
// That is enough, because a later star can only widen what an earlier one
// already allowed; the work stays within text length times pattern length.
template <typename C>
bool glob_match(const C* text, const C* pattern) {
  while (*text && *pattern != '*') {
    if (*pattern != '?' && fold(*pattern) != fold(*text)) return false;
    ++text;
    ++pattern;
  }
  const C* star_pattern = nullptr;
  const C* star_text = nullptr;
  while (*text) {
    if (*pattern == '*') {
      if (!*++pattern) return true;
      star_pattern = pattern;
      star_text = text + 1;
    } else if (*pattern && (*pattern == '?' || fold(*pattern) == fold(*text))) {
      ++pattern;
      ++text;
    } else {
      if (!star_pattern) return false;
      pattern = star_pattern;
      text = star_text++;
    }
  }
  while (*pattern == '*') ++pattern;
  return !*pattern;
}

}  // namespace

bool compare_glob_wide(const wchar_t* text, const wchar_t* pattern) {
  if (!text || !pattern) return false;
  return glob_match(text, pattern);
}

bool compare_glob(const char* text, const char* pattern) {
  if (!text || !pattern) return false;
  wchar_t* wide_text = mbcs_to_wide(text);
  wchar_t* wide_pattern = mbcs_to_wide(pattern);
  bool match;
  if (wide_text && wide_pattern)
    match = glob_match(wide_text, wide_pattern);
  else  // a text that does not decode in the locale is compared byte by byte
    match = glob_match(text, pattern);
  delete[] wide_text;
  delete[] wide_pattern;
  return match;
}
