// main.cpp - process entry: registers the tasks, converts the arguments to
// wide strings in the user's locale and hands over to wmain.
#include <clocale>
#include <cwchar>

#include "task.h"
#include "utf8.h"
#include "zelvarn2.h"

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  register_tasks();
  wchar_t** wargv = new wchar_t*[static_cast<size_t>(argc) + 1];
  for (int i = 0; i < argc; ++i) {
    wargv[i] = mbcs_to_wide(argv[i]);
    // A word the locale cannot decode still counts as a word: keep it empty
    // rather than shifting the ones after it.
    if (!wargv[i]) wargv[i] = new wchar_t[1]();
  }
  wargv[argc] = nullptr;
  int rc = wmain(argc, wargv);
  for (int i = 0; i < argc; ++i) delete[] wargv[i];
  delete[] wargv;
  return rc;
}
