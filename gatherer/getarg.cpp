// getarg.cpp - turns the command line and properties files into run
// settings, probe lists and task parameters.
#include "getarg.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "debug.h"
#include "mask.h"
#include "probe.h"
#include "run_command.h"
#include "safe_file.h"
#include "capture.h"
#include "sysroot.h"
#include "task.h"
#include "utf8.h"
#include "util_string.h"
#include "zelvarn2.h"
#include "zeng.h"

namespace {

/// Longest properties line kept; the rest of a longer line is dropped.
constexpr size_t MAX_PROPERTY_LINE = 4096;
/// How deep properties files may name further properties files.
constexpr int MAX_PROPERTIES_DEPTH = 8;
int properties_depth = 0;
/// Device and inode of every properties file being read, outermost first. A
/// file that names itself (directly or through others) is not read again:
/// the depth limit alone would still let a file naming itself a few times
/// multiply into millions of reads.
std::vector<std::pair<dev_t, ino_t>> properties_chain;

bool is_option(const wchar_t* word) { return word && word[0] == L'-'; }

bool same_word(const wchar_t* a, const wchar_t* b) { return wcscasecmp(a, b) == 0; }

bool is_import_option(const wchar_t* word) {
  for (const wchar_t* option : {L"-dgmlfile", L"-zvmlfile", L"-asciifile", L"-textfile",
                                L"-xmlfile", L"-binaryfile"})
    if (same_word(word, option)) return true;
  return false;
}

/// A file to import: the run then does only the container work and the
/// imports, unless a later level word raises the level again. A report to
/// import into the report needs the report, so "-zvmlfile" keeps the level.
void add_import(int argc, wchar_t** wargv, int& i) {
  const wchar_t* option = wargv[i];
  int index = i;
  int made = zeng_task::create_zeng_task(argc, const_cast<const wchar_t**>(wargv), &index);
  i = index;
  if (made && !same_word(option, L"-zvmlfile")) gatherer_setting(SETTING_DETAIL, SETTING_SET, 0);
}

bool starts_with(const wchar_t* word, const wchar_t* prefix) {
  return wcsncasecmp(word, prefix, wcslen(prefix)) == 0;
}

/// The word after wargv[i] when it exists and is not an option; advances i
/// past it. Null otherwise.
const wchar_t* take_value(int argc, wchar_t** wargv, int& i) {
  if (i + 1 < argc && wargv[i + 1] && !is_option(wargv[i + 1])) return wargv[++i];
  return nullptr;
}

/// Installs list at index unless it holds no name at all; an empty selection
/// list would otherwise silently switch every probe off.
void install_list(int index, str_list* list) {
  if (!list->get_first()) {
    delete list;
    return;
  }
  if (index >= 0 && index < probe_task::PROBE_LIST_COUNT) {
    // A later option replaces an earlier list of the same index; free the old
    // one here so that the registry never has to.
    str_list* old = probe_task::probe_lists[index];
    probe_task::probe_lists[index] = nullptr;
    delete old;
  }
  probe_task::set_probe_list(index, list);
}

/// A system root that cannot be used stops the run before anything is
/// written: inventorying the live machine under a captured machine's name
/// would be worse than nothing. Said even in silent mode.
void refuse_system_root(const char* shown, const char* why) {
  fprintf(stderr, "Error: sysroot %s %s.\n", shown, why);
  fflush(stderr);
  printd("getarg: sysroot %s %s\n", shown, why);
  gatherer_refuse_run();
}

void set_system_root(const wchar_t* value) {
  if (!value || !value[0]) {
    fprintf(stderr, "Error: directory expected after sysroot.\n");
    gatherer_refuse_run();
    return;
  }
  char* dir = gatherer_argument_bytes(value);
  std::string shown = console_text(value);
  struct stat st;
  const char* why = nullptr;
  if (!dir || stat(dir, &st) != 0) {
    why = "does not exist";
  } else if (!S_ISDIR(st.st_mode)) {
    why = "is not a directory";
  } else {
    DIR* d = opendir(dir);
    bool empty = true;
    if (d) {
      for (struct dirent* e; empty && (e = readdir(d));)
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) empty = false;
      closedir(d);
    }
    if (!d) why = "cannot be read";
    else if (empty) why = "is empty";
  }
  std::string replay_why;
  if (why) {
    refuse_system_root(shown.c_str(), why);
  } else {
    sysroot_set(dir);  // keeps its own copy
    if (!replay_load(&replay_why)) refuse_system_root(shown.c_str(), replay_why.c_str());
  }
  delete[] dir;
}

/// "-capture DIR": a run that also records what it reads under DIR, which
/// must not exist or be empty (nothing is ever mixed into an older capture).
void set_capture_dir(const wchar_t* value) {
  char* dir = value && value[0] ? gatherer_argument_bytes(value) : nullptr;
  std::string why;
  if (!capture_set_dir(dir, &why)) {
    if (dir)
      fprintf(stderr, "Error: capture %s %s.\n", console_text(value).c_str(), why.c_str());
    else
      fprintf(stderr, "Error: directory expected after capture.\n");
    fflush(stderr);
    gatherer_refuse_run();
  }
  delete[] dir;
}

/// "-timeout N": the time limit of every outside command, in whole seconds.
void set_command_time_limit(const wchar_t* value) {
  wchar_t* end = nullptr;
  long seconds = value ? wcstol(value, &end, 10) : 0;
  if (!value || end == value || *end || seconds < 1 || seconds > 86400) {
    printm("Seconds (1 to 86400) expected after timeout\n");
    return;
  }
  command_set_time_limit(static_cast<int>(seconds));
}

void select_driver(const char* task_name, int argc, wchar_t** wargv, int& i, bool install) {
  const wchar_t* reference = take_value(argc, wargv, i);
  task* t = task::get_task_by_name(task_name);
  if (t) {
    char* narrow = reference ? wide_to_mbcs(reference) : nullptr;
    t->set_parameter("driver_reference", narrow ? narrow : GTH_DEFAULT_DRIVER_REFERENCE);
    delete[] narrow;
  }
  gatherer_setting(SETTING_FIXED_TASK_LIST, SETTING_ON);
  if (install)
    gatherer_task_list.install = true;
  else
    gatherer_task_list.uninstall = true;
}

bool is_being_read(const struct stat& st) {
  for (const auto& file : properties_chain)
    if (file.first == st.st_dev && file.second == st.st_ino) return true;
  return false;
}

/// One line of at most MAX_PROPERTY_LINE bytes without its line end; the
/// rest of a longer line is discarded. False at end of file.
bool read_property_line(FILE* f, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < MAX_PROPERTY_LINE) line += static_cast<char>(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

void parse_property_line(const std::string& text) {
  wchar_t* line = mbcs_to_wide(text.c_str());
  if (!line) {
    printd("getarg: undecodable properties line skipped\n");
    return;
  }
  trim_whitespace(line);
  if (line[0] && line[0] != L'#') {
    wchar_t* value = wcschr(line, L'=');
    if (value) {
      *value++ = L'\0';
      trim_whitespace(value);
    }
    trim_whitespace(line);
    printdW(L"parameter: %ls, value: %ls\n", line, value ? value : L"(null)");
    gatherer_parse_property(line, value);
  }
  delete[] line;
}

}  // namespace

void set_probe_list(int index, const wchar_t* text) {
  if (!text) return;
  install_list(index, new str_list(text, L';'));
}

void set_probe_list(int index, int argc, wchar_t** wargv, int& i) {
  str_list* list = nullptr;
  while (i + 1 < argc && wargv[i + 1] && !is_option(wargv[i + 1])) {
    ++i;
    if (!list)
      list = new str_list(wargv[i], L';');
    else
      list->add_separated_list(wargv[i], L';');
  }
  if (list) install_list(index, list);
}

void install_driver(int argc, wchar_t** wargv, int& i) {
  select_driver("INSTALL_DRIVER", argc, wargv, i, true);
}

void remove_driver(int argc, wchar_t** wargv, int& i) {
  select_driver("REMOVE_DRIVER", argc, wargv, i, false);
}

void gatherer_parse_command_line(int argc, wchar_t** wargv) {
  for (int i = 1; i < argc && wargv; ++i) {
    const wchar_t* word = wargv[i];
    if (!word) continue;
    if (same_word(word, L"-help")) {
      gatherer_setting(SETTING_ACTION, SETTING_SET, 2);
    } else if (same_word(word, L"-step")) {
      gatherer_setting(SETTING_STEP, SETTING_ON);
    } else if (same_word(word, L"-listprobes")) {
      gatherer_setting(SETTING_ACTION, SETTING_SET, 1);
    } else if (same_word(word, L"-install")) {
      install_driver(argc, wargv, i);
    } else if (same_word(word, L"-uninstall")) {
      remove_driver(argc, wargv, i);
    } else if (same_word(word, L"-p")) {
      task::set_task_parameters(argc, wargv, i);
    } else if (same_word(word, L"-probe") || same_word(word, L"-probes")) {
      set_probe_list(0, argc, wargv, i);
    } else if (same_word(word, L"-enable")) {
      set_probe_list(2, argc, wargv, i);
    } else if (same_word(word, L"-skip")) {
      set_probe_list(1, argc, wargv, i);
    } else if (is_import_option(word)) {
      add_import(argc, wargv, i);
    } else if (is_option(word)) {
      const wchar_t* value = take_value(argc, wargv, i);
      gatherer_parse_common(word + 1, value);
    } else {
      printm("I don't understand %s\n", console_text(word).c_str());
    }
  }
}

/// "-maskkey FILE": masking with the key in FILE (tokens stable across runs).
static void set_mask_key(const wchar_t* path) {
  char* narrow = path ? gatherer_argument_bytes(path) : nullptr;
  std::string why = "file name expected";
  bool ok = narrow ? mask_enable(narrow, &why) : (mask_enable(nullptr), false);
  if (!ok)
    printm("Cannot read the mask key from %s: %s; masking with a random key\n",
           path ? console_text(path).c_str() : "", why.c_str());
  delete[] narrow;
}

void gatherer_parse_common(const wchar_t* word, const wchar_t* value) {
  if (!word) return;
  if (same_word(word, L"batch")) {
    gatherer_setting(SETTING_BATCH, SETTING_ON);
  } else if (same_word(word, L"silent")) {
    gatherer_setting(SETTING_SILENT, SETTING_ON);
  } else if (same_word(word, L"nolimit")) {
    gatherer_setting(SETTING_EVENT_LIMIT, SETTING_SET, 0);
  } else if (same_word(word, L"debug")) {
    enable_debug_mode(false);
  } else if (same_word(word, L"fdebug")) {
    enable_debug_mode(true);
  } else if (same_word(word, L"level")) {
    set_detail_level(value);
  } else if (starts_with(word, L"level")) {
    set_detail_level(word + 5);
  } else if (same_word(word, L"filename")) {
    set_filename_template(value);
  } else if (starts_with(word, L"filename")) {
    set_filename_template(word + 8);
  } else if (same_word(word, L"html")) {
    enable_html_mode();
  } else if (same_word(word, L"local")) {
    gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  } else if (same_word(word, L"stdout")) {
    // The report goes to standard output, so no container is made for it.
    gatherer_setting(SETTING_STDOUT, SETTING_ON);
    gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  } else if (same_word(word, L"text")) {
    enable_text_mode();
  } else if (same_word(word, L"vpd")) {
    gatherer_setting(SETTING_VPD, SETTING_ON);
  } else if (same_word(word, L"sysroot")) {
    set_system_root(value);
  } else if (same_word(word, L"capture")) {
    set_capture_dir(value);
  } else if (same_word(word, L"timeout")) {
    set_command_time_limit(value);
  } else if (same_word(word, L"mask")) {
    if (!mask_enabled()) mask_enable(nullptr);
  } else if (same_word(word, L"maskkey")) {
    set_mask_key(value);
  } else if (same_word(word, L"properties")) {
    if (value)
      gatherer_parse_properties(value);
    else
      printm("Filename expected after properties\n");
  } else {
    printm("I don't understand %s\n", console_text(word).c_str());
  }
}

void gatherer_parse_properties(const wchar_t* path) {
  if (!path) return;
  std::string shown = console_text(path);
  if (properties_depth >= MAX_PROPERTIES_DEPTH) {
    printm("Properties files nested too deeply: %s not read\n", shown.c_str());
    return;
  }
  char* narrow = gatherer_argument_bytes(path);
  errno = EILSEQ;
  FILE* f = narrow ? open_regular_file(narrow, "r") : nullptr;
  delete[] narrow;
  if (!f) {
    int error = errno;
    print_error("getarg: properties", error);
    printm("Cannot read properties from %s: %s\n", shown.c_str(),
           error == EINVAL ? "not a regular file" : strerror(error));
    return;
  }
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || is_being_read(st)) {
    printm("Properties files nested too deeply: %s not read\n", shown.c_str());
    fclose(f);
    return;
  }
  ++properties_depth;
  properties_chain.emplace_back(st.st_dev, st.st_ino);
  std::string line;
  bool first = true;
  while (read_property_line(f, line)) {
    // A byte-order mark some editors put first is not part of the text.
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    first = false;
    parse_property_line(line);
  }
  properties_chain.pop_back();
  --properties_depth;
  fclose(f);
  // Said once the file is read, so that a "silent" line in it silences this too.
  printm("Using properties from %s\n", shown.c_str());
}

void gatherer_parse_property(wchar_t* name, wchar_t* value) {
  if (!name) return;
  wchar_t* dot = wcschr(name, L'.');
  if (dot) {
    *dot = L'\0';
    const wchar_t* key = dot + 1;
    task::set_task_parameter(name, key, value);
    printm("probe %s, parameter %s\n", console_text(name).c_str(), console_text(key).c_str());
  } else if (same_word(name, L"probe") || same_word(name, L"probes")) {
    set_probe_list(0, value);
  } else if (same_word(name, L"skip")) {
    set_probe_list(1, value);
  } else if (same_word(name, L"enable")) {
    set_probe_list(2, value);
  } else {
    gatherer_parse_common(name, value);
  }
}

void gatherer_parse_default_properties() {
  const char* dir = gatherer_filename(FILENAME_PATH, SETTING_GET);
  if (!dir || !dir[0]) return;
  std::string path = std::string(dir) + "/zelvarn2.zvp";
  wchar_t* wide = mbcs_to_wide(path.c_str());
  if (wide) gatherer_parse_properties(wide);
  delete[] wide;
}

// ---------------------------------------------------------------------------
// Words as given, and words as shown

namespace {

struct kept_argument {
  const wchar_t* wide;
  const char* bytes;
};
std::vector<kept_argument> kept_arguments;

char* copy_bytes(const char* s, size_t n) {
  char* out = new char[n + 1];
  memcpy(out, s, n);
  out[n] = '\0';
  return out;
}

bool is_control(wchar_t c) { return (c >= 0 && c < 32) || (c >= 127 && c < 160); }

}  // namespace

void gatherer_keep_argument_bytes(int argc, char** argv, wchar_t** wargv) {
  kept_arguments.clear();
  for (int i = 0; argv && wargv && i < argc; ++i)
    if (argv[i] && wargv[i]) kept_arguments.push_back({wargv[i], argv[i]});
}

char* gatherer_argument_bytes(const wchar_t* text) {
  if (!text) return nullptr;
  for (const kept_argument& k : kept_arguments) {
    size_t length = wcslen(k.wide);
    if (text < k.wide || text > k.wide + length) continue;
    // The tail of a word after an ASCII prefix: one byte per character.
    size_t skip = static_cast<size_t>(text - k.wide);
    bool ascii = true;
    for (size_t j = 0; j < skip; ++j)
      if (k.wide[j] < 0 || k.wide[j] > 127 || static_cast<unsigned char>(k.bytes[j]) > 127) ascii = false;
    if (ascii && skip <= strlen(k.bytes)) return copy_bytes(k.bytes + skip, strlen(k.bytes + skip));
  }
  return wide_to_mbcs(text);
}

std::string console_text(const wchar_t* text) {
  std::string out;
  if (!text) return out;
  mbstate_t state;
  memset(&state, 0, sizeof state);
  char buf[MB_LEN_MAX];
  for (const wchar_t* p = text; *p; ++p) {
    size_t n = is_control(*p) ? static_cast<size_t>(-1) : wcrtomb(buf, *p, &state);
    if (n == static_cast<size_t>(-1)) {
      out += '?';
      memset(&state, 0, sizeof state);
    } else {
      out.append(buf, n);
    }
  }
  return out;
}

std::string console_text(const char* text) {
  std::string out;
  if (!text) return out;
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t left = strlen(text);
  const char* p = text;
  while (left > 0) {
    wchar_t c;
    size_t n = mbrtowc(&c, p, left, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
      out += '?';
      memset(&state, 0, sizeof state);
      ++p;
      --left;
      continue;
    }
    if (is_control(c))
      out += '?';
    else
      out.append(p, n);
    p += n;
    left -= n;
  }
  return out;
}
