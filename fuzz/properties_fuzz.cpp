// properties_fuzz.cpp - reads arbitrary bytes as a properties file and, split
// at line ends and NULs, as a command line. Neither may leave its buffers,
// grow state from run to run, or set a detail level outside 0..6.
#include "fuzz_support.h"
#include "getarg.h"
#include "probe.h"
#include "sysroot.h"
#include "task.h"
#include "utf8.h"
#include "util_string.h"
#include "zelvarn2.h"

namespace {

/// The input file is also kept open on this descriptor, so an input can name
/// itself as "properties=/proc/self/fd/199" and exercise nesting without
/// knowing the temporary file's random name.
constexpr int SELF_FD = 199;
std::string path;

/// Everything the parser may change, back to the start of a run. The
/// filename template copy stays allocated until a later template replaces it:
/// only one, still referenced, so the leak checker does not count it.
void reset_state() {
  gatherer_default_configuration();
  // Silent keeps the console quiet (and fast); no word turns it off again.
  gatherer_setting(SETTING_SILENT, SETTING_ON);
  gatherer_task_list = {nullptr, false, false, false, false};
  for (str_list*& l : probe_task::probe_lists) {
    delete l;
    l = nullptr;
  }
  sysroot_set(nullptr);
}

void check_state() {
  int detail = gatherer_setting(SETTING_DETAIL, SETTING_GET);
  if (detail < 0 || detail > 6) abort();
  if (!gatherer_filename(FILENAME_TEMPLATE, SETTING_GET)) abort();
  for (str_list* l : probe_task::probe_lists) {
    if (!l) continue;
    if (!l->get_first()) abort();  // an empty list is never installed
    for (const char* s = l->get_first(); s; s = l->get_next())
      if (!*s) abort();
  }
}

void write_input(const uint8_t* data, size_t size) {
  if (ftruncate(SELF_FD, 0) != 0) abort();
  if (size && pwrite(SELF_FD, data, size, 0) != static_cast<ssize_t>(size)) abort();
}

/// The words of the input: pieces between line ends and NULs, each decoded
/// as the entry point does (an undecodable word stays null). The caller
/// frees every word with delete[].
std::vector<wchar_t*> split_words(const uint8_t* data, size_t size) {
  std::vector<wchar_t*> words;
  words.push_back(mbcs_to_wide("zelvarn2"));
  std::string word;
  for (size_t i = 0; i <= size; i++) {
    if (i == size || data[i] == '\n' || data[i] == '\0') {
      words.push_back(mbcs_to_wide(word.c_str()));
      word.clear();
      if (words.size() > 256) break;
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(nullptr);
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_ALL, "C.UTF-8");
  register_tasks();  // so that "task.key" and "-p" reach real tasks
  int fd;
  path = make_temp_file("zvpropfuzz", &fd);
  if (dup2(fd, SELF_FD) < 0) abort();
  close(fd);
  atexit([] { unlink(path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  write_input(data, size);

  reset_state();
  wchar_t* wide_path = mbcs_to_wide(path.c_str());
  gatherer_parse_properties(wide_path);
  delete[] wide_path;
  check_state();

  reset_state();
  std::vector<wchar_t*> words = split_words(data, size);
  gatherer_parse_command_line(static_cast<int>(words.size()) - 1, words.data());
  check_state();
  for (wchar_t* w : words) delete[] w;

  reset_state();
  return 0;
}
