// main.cpp - process entry: registers the tasks, converts the arguments to
// wide strings in the user's locale and hands over to wmain.
#include <clocale>
#include <cstring>
#include <cwchar>

#include "getarg.h"
#include "task.h"
#include "utf8.h"
#include "zelvarn2.h"

/// The locale's decoding of `s` with every byte that does not decode as U+FFFD.
static wchar_t* lenient_wide(const char* s) {
  size_t left = s ? strlen(s) : 0;
  wchar_t* out = new wchar_t[left + 1];
  size_t w = 0;
  mbstate_t state;
  memset(&state, 0, sizeof state);
  while (left > 0) {
    wchar_t c;
    size_t n = mbrtowc(&c, s, left, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
      out[w++] = 0xFFFD;
      memset(&state, 0, sizeof state);
      n = 1;
    } else {
      out[w++] = c;
    }
    s += n;
    left -= n;
  }
  out[w] = 0;
  return out;
}

int main(int argc, char** argv) {
  gatherer_prepare_process();
  setlocale(LC_ALL, "");
  register_tasks();
  wchar_t** wargv = new wchar_t*[static_cast<size_t>(argc) + 1];
  for (int i = 0; i < argc; ++i) {
    wargv[i] = mbcs_to_wide(argv[i]);
    // A word the locale cannot decode still counts as a word: its bytes are
    // kept for the file system, the wide form shows what cannot be decoded
    // as U+FFFD.
    if (!wargv[i]) wargv[i] = lenient_wide(argv[i]);
  }
  wargv[argc] = nullptr;
  gatherer_keep_argument_bytes(argc, argv, wargv);
  int rc = wmain(argc, wargv);
  for (int i = 0; i < argc; ++i) delete[] wargv[i];
  delete[] wargv;
  return rc;
}
