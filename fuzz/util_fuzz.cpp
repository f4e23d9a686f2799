// util_fuzz.cpp - wildcard matching, string lists, the wide line reader and
// trimming on arbitrary input.
#include "fuzz_support.h"
#include "util_glob.h"
#include "util_string.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  // Text and pattern split at the first NUL; the pattern's start is also the
  // list separator.
  std::string text(input.c_str());
  std::string pattern = text.size() < input.size() ? std::string(input.c_str() + text.size() + 1) : "";
  compare_glob(text.c_str(), pattern.c_str());
  if (compare_glob(text.c_str(), text.c_str()) == false) {
    // A text without wildcards always matches itself.
    if (text.find_first_of("*?") == std::string::npos) __builtin_trap();
  }

  str_list list(text.c_str(), pattern.empty() ? ';' : pattern[0]);
  for (const char* s = list.get_first(); s; s = list.get_next())
    if (!*s) __builtin_trap();  // empty pieces are skipped

  std::string copy = input;
  if (FILE* f = fmemopen(&copy[0], copy.size() ? copy.size() : 1, "r")) {
    wchar_t* buffer = nullptr;
    unsigned buffer_size = 0;
    int n;
    while ((n = get_wide_line(f, &buffer, &buffer_size)) >= 0)
      if (static_cast<unsigned>(n) >= buffer_size) __builtin_trap();
    delete[] buffer;
    fclose(f);
  }
  if (FILE* f = fmemopen(&copy[0], copy.size() ? copy.size() : 1, "r")) {
    std::string line;
    while (read_line(f, line, 64)) {
    }
    fclose(f);
  }

  std::string narrow = text;
  trim_whitespace(&narrow[0]);
  trim_string(&narrow[0], pattern.c_str());
  char small[8] = "";
  append_string(small, sizeof small, text.c_str());
  return 0;
}
