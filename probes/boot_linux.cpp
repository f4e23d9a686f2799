// boot_linux.cpp - the "Linux Startup Information" probes.
#include "boot_linux.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "debug.h"
#include "filescan.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

/// The keyword when the line starts with it as a whole word (followed by a
/// blank, "=" or the end); the text after it and its blanks goes to *rest.
bool keyword(const char* line, const char* word, const char** rest) {
  size_t n = strlen(word);
  if (strncmp(line, word, n) != 0) return false;
  char c = line[n];
  if (c != '\0' && c != ' ' && c != '\t' && c != '=') return false;
  const char* p = line + n;
  if (*p) p++;  // the separator
  while (*p == ' ' || *p == '\t') p++;
  if (rest) *rest = p;
  return true;
}

void copy_cut(char* dst, size_t size, const char* src, size_t len) {
  if (len >= size) len = size - 1;
  memcpy(dst, src, len);
  dst[len] = '\0';
}

void copy_cut(char* dst, size_t size, const char* src) { copy_cut(dst, size, src, strlen(src)); }

/// Reads the lines of a menu file that carry content (trimmed, no comments).
template <class F>
void for_each_menu_line(const char* path, F each) {
  FILE* f = sys_fopen(path, "r");
  if (!f) {
    print_error("grub: fopen", errno);
    return;
  }
  std::string line;
  while (read_line(f, line, 4096)) {
    std::unique_ptr<char[]> text(duplicate_string(line.c_str()));
    char* t = trim_whitespace(strip_line_end(text.get()));
    if (!t || !*t || *t == '#') continue;
    each(t);
  }
  print_error("grub: getline", errno);
  fclose(f);
}

}  // namespace

// ---- boot menu -----------------------------------------------------------

grub_menu_parser::grub_menu_parser() { clear(); }

void grub_menu_parser::clear() { memset(&current, 0, sizeof current); }

bool grub_menu_parser::feed(const char* line, grub_entry* out) {
  if (!line) return false;
  while (*line == ' ' || *line == '\t') line++;
  if (!*line || *line == '#') return false;
  const char* rest = nullptr;
  bool chain = keyword(line, "chainloader", nullptr);
  bool ends = chain || keyword(line, "boot", nullptr) ||
              (keyword(line, "title", nullptr) && current.title[0]);
  bool ended = false;
  if (ends) {
    *out = current;
    if (!out->title[0]) copy_cut(out->title, sizeof out->title, "Unnamed Entry");
    out->chain_loaded = chain;
    clear();
    ended = true;
  }
  if (keyword(line, "title", &rest)) {
    copy_cut(current.title, sizeof current.title, rest);
  } else if (keyword(line, "root", &rest) || keyword(line, "rootnoverify", &rest)) {
    copy_cut(current.root, sizeof current.root, rest);
  } else if (keyword(line, "kernel", &rest)) {
    size_t len = strnlen(rest, 256);
    size_t word = 0;
    while (word < len && rest[word] != ' ' && rest[word] != '\t') word++;
    copy_cut(current.kernel, sizeof current.kernel, rest, word);
    size_t opt = word;
    while (opt < len && (rest[opt] == ' ' || rest[opt] == '\t')) opt++;
    copy_cut(current.options, sizeof current.options, rest + opt, len - opt);
  } else if (keyword(line, "initrd", &rest)) {
    copy_cut(current.initrd, sizeof current.initrd, rest);
  }
  return ended;
}

bool grub_menu_parser::finish(grub_entry* out) {
  if (!current.title[0]) return false;
  *out = current;
  out->chain_loaded = false;
  clear();
  return true;
}

// ---- GRUB 2 configuration ---------------------------------------------------

namespace {

/// The first word of `text` as the shell-like configuration reads it: a
/// quoted string without its quotes (a backslash escapes within double
/// quotes), or a bare word up to a blank. *end is set past it.
std::string grub2_word(const char* text, const char** end = nullptr) {
  while (*text == ' ' || *text == '\t') text++;
  std::string word;
  char quote = 0;
  for (; *text; text++) {
    if (quote) {
      if (*text == quote) {
        quote = 0;
      } else if (quote == '"' && *text == '\\' && text[1]) {
        word += *++text;
      } else {
        word += *text;
      }
    } else if (*text == '\'' || *text == '"') {
      quote = *text;
    } else if (*text == ' ' || *text == '\t' || *text == '{') {
      break;
    } else {
      word += *text;
    }
  }
  if (end) *end = text;
  return word;
}

bool ends_with_brace(const char* line) {
  size_t n = strlen(line);
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t')) n--;
  return n > 0 && line[n - 1] == '{';
}

}  // namespace

grub2_menu_parser::grub2_menu_parser() : depth(0), entry_depth(-1) { memset(&current, 0, sizeof current); }

bool grub2_menu_parser::feed(const char* line, grub_entry* out) {
  if (!line) return false;
  while (*line == ' ' || *line == '\t') line++;
  if (!*line || *line == '#') return false;
  const char* rest = nullptr;
  if (*line == '}') {
    if (depth > 0) depth--;
    if (entry_depth < 0 || depth != entry_depth) return false;
    *out = current;
    if (!out->title[0]) copy_cut(out->title, sizeof out->title, "Unnamed Entry");
    memset(&current, 0, sizeof current);
    entry_depth = -1;
    return true;
  }
  if (entry_depth < 0 && keyword(line, "menuentry", &rest)) {
    memset(&current, 0, sizeof current);
    copy_cut(current.title, sizeof current.title, grub2_word(rest).c_str());
    entry_depth = depth;
  } else if (entry_depth >= 0) {
    if (keyword(line, "set", &rest) && strncmp(rest, "root=", 5) == 0) {
      copy_cut(current.root, sizeof current.root, grub2_word(rest + 5).c_str());
    } else if (keyword(line, "linux", &rest) || keyword(line, "linux16", &rest) ||
               keyword(line, "linuxefi", &rest) || keyword(line, "kernel", &rest)) {
      const char* after;
      copy_cut(current.kernel, sizeof current.kernel, grub2_word(rest, &after).c_str());
      while (*after == ' ' || *after == '\t') after++;
      std::string options(after);
      while (!options.empty() && (options.back() == ' ' || options.back() == '\t')) options.pop_back();
      copy_cut(current.options, sizeof current.options, options.c_str());
    } else if (keyword(line, "initrd", &rest) || keyword(line, "initrd16", &rest) ||
               keyword(line, "initrdefi", &rest)) {
      copy_cut(current.initrd, sizeof current.initrd, rest);
    } else if (keyword(line, "chainloader", nullptr)) {
      current.chain_loaded = true;
    }
  }
  if (ends_with_brace(line)) depth++;
  return false;
}

bool parse_grub2_option(const char* line, const char** kw, const char** name, char* value,
                        size_t value_size) {
  static const char* const keywords[][3] = {{"default=", "default", "Default Entry"},
                                            {"fallback=", "fallback", "Fallback Entry"},
                                            {"timeout=", "timeout", "Menu Timeout"},
                                            {"color_normal=", "color", "Menu Colours"}};
  const char* rest;
  if (!line || !value || value_size == 0 || !keyword(line, "set", &rest)) return false;
  for (const auto& k : keywords) {
    size_t n = strlen(k[0]);
    if (strncmp(rest, k[0], n) != 0) continue;
    std::string v = grub2_word(rest + n);
    if (v.empty()) return false;  // "set default=" only clears it
    *kw = k[1];
    *name = k[2];
    copy_cut(value, value_size, v.c_str());
    return true;
  }
  return false;
}

bool parse_grub_option(const char* line, const char** kw, const char** name, char* value,
                       size_t value_size) {
  static const char* const keywords[][2] = {{"default", "Default Entry"},
                                            {"fallback", "Fallback Entry"},
                                            {"timeout", "Menu Timeout"},
                                            {"color", "Menu Colours"}};
  if (!line || !value || value_size == 0) return false;
  for (const auto& k : keywords) {
    const char* rest;
    if (!keyword(line, k[0], &rest)) continue;
    *kw = k[0];
    *name = k[1];
    copy_cut(value, value_size, rest);
    return true;
  }
  return false;
}

grub_probe::grub_probe(probe_group* group)
    : probe(group, "GRUB configuration", 2, 1), tested(false), menu_file(nullptr), grub2(false) {}

bool grub_probe::test() {
  if (tested) return menu_file != nullptr;
  tested = true;
  // The legacy menu files first, so that a machine that has one keeps its
  // report; then the GRUB 2 configurations of today.
  const char* candidates[] = {platform_path::grub_conf,     platform_path::grub_grub_conf,
                              platform_path::grub_menu_lst, platform_path::grub_grub_menu_lst,
                              platform_path::grub_grub_cfg, platform_path::grub2_grub_cfg};
  for (const char* c : candidates) {
    FILE* f = sys_fopen(c, "r");  // regular files only
    if (!f) continue;
    fclose(f);
    menu_file = c;
    grub2 = c == platform_path::grub_grub_cfg || c == platform_path::grub2_grub_cfg;
    printd("grub: using %s\n", c);
    break;
  }
  return menu_file != nullptr;
}

static void write_entry(Table& table, const grub_entry& e) {
  table.write_row(e.title, e.title, e.root, e.kernel, e.options, e.initrd, e.chain_loaded ? 1 : 0);
}

bool grub_probe::run(FILE* report) {
  if (!menu_file && !test()) return false;
  int rows = 0;
  {
    static const Column columns[] = {{"Boot Entry Title", STRING, 128}, {"Root Device", STRING, 16},
                                     {"Kernel Image", STRING, 128},     {"Kernel Options", STRING, 128},
                                     {"Initial RAM Disk", STRING, 80},  {"Chain Loaded", BOOL}};
    Table table(report, "GRUB Boot entries", "Linux Startup Information");
    table.heading(columns);
    grub_menu_parser parser;
    grub2_menu_parser parser2;
    grub_entry e;
    for_each_menu_line(menu_file, [&](const char* line) {
      if (grub2 ? parser2.feed(line, &e) : parser.feed(line, &e)) {
        write_entry(table, e);
        rows++;
      }
    });
    if (!grub2 && parser.finish(&e)) {
      write_entry(table, e);
      rows++;
    }
  }
  {
    static const Column columns[] = {{"Name", STRING, 128}, {"Value", STRING, 128}};
    Table table(report, "GRUB Options", "Linux Startup Information");
    table.heading(columns);
    for_each_menu_line(menu_file, [&](const char* line) {
      const char *kw, *name;
      char value[128];
      if (!(grub2 ? parse_grub2_option(line, &kw, &name, value, sizeof value)
                  : parse_grub_option(line, &kw, &name, value, sizeof value)))
        return;
      table.write_row(kw, name, value);
      rows++;
    });
  }
  return rows > 0;
}

// ---- /boot and the kernel command line -----------------------------------

boot_probe::boot_probe(probe_group* group) : probe(group, "Current boot properties", 2, 1) {}

bool boot_probe::test() {
  // The command line is a plain file: reading it is enough.
  return sys_access(platform_path::boot_dir, R_OK | X_OK) == 0 ||
         sys_access(platform_path::proc_cmdline, R_OK) == 0;
}

bool boot_probe::run(FILE* report) {
  {
    static const Column columns[] = {{"Filename", STRING, 128}, {"Permissions", STRING, 32},
                                     {"Filesize", STRING, 32}};
    Table table(report, "/boot Contents", "Linux Startup Information");
    table.heading(columns);
    std::unique_ptr<filescan> scan(make_filescan());
    scan->add_path_to_scan(platform_path::boot_dir);
    int count = 0;
    size_t prefix = strlen(platform_path::boot_dir) + 1;
    char full[FILESCAN_PATH_MAX], buf[64];
    while (scan->next()) {
      scan->get_full_pathname(full, sizeof full);
      table.start_row(full);
      table.log_data(strlen(full) >= prefix ? full + prefix : full);
      table.log_data(scan->get_permissions(buf, sizeof buf));
      table.log_data(scan->get_file_size(buf, sizeof buf));
      table.end_row();
      count++;
    }
    printd("boot: %d files found\n", count);
  }

  bool with_value = false;
  static const Column columns[] = {{"Option", STRING, 128}, {"Value", STRING, 128}};
  Table table(report, "Kernel Command Line", "Linux Startup Information");
  table.heading(columns);
  FILE* f = sys_fopen_bounded(platform_path::proc_cmdline, 1u << 17);
  if (!f) {
    print_error("boot_cmdline: fopen", errno);
    return false;
  }
  std::string line;
  if (!read_line(f, line, 65536)) {
    print_error("boot_cmdline: getline", errno);
    line.clear();
  }
  fclose(f);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  parse_cmdline(line, [&](const cmdline_option& o) {
    table.write_row(o.has_value ? o.value.c_str() : o.word.c_str(), o.option.c_str(),
                    o.has_value ? o.value.c_str() : "");
    if (o.has_value) with_value = true;
  });
  return with_value;
}

// ---- start-up services ---------------------------------------------------

rcd_probe::rcd_probe(probe_group* group) : probe(group, "Startup services", 2, 1) {}

bool rcd_probe::run(FILE* report) {
  static const Column columns[] = {
      {"Name", STRING, 64},       {"Runlevel 0", STRING, 8}, {"Runlevel 1", STRING, 8}, {"Runlevel 2", STRING, 8},
      {"Runlevel 3", STRING, 8}, {"Runlevel 4", STRING, 8}, {"Runlevel 5", STRING, 8}, {"Runlevel 6", STRING, 8}};
  Table table(report, "Startup Services");
  table.heading(columns);
  // Each run-level directory is read once: the services started there are
  // the names its "S??name" entries give.
  std::set<std::string> started[7];
  char name[FILESCAN_NAME_MAX + 1], dir[64];
  for (int i = 0; i <= 6; i++) {
    snprintf(dir, sizeof dir, platform_path::rc_d_dir_fmt, i);
    DIR* d = sys_opendir(dir);
    if (!d) continue;
    while (struct dirent* e = readdir(d)) {
      // "S", any two characters, then the name, as the pattern "S??name".
      size_t length = strlen(e->d_name);
      if (e->d_name[0] == 'S' && length > 3) started[i].insert(e->d_name + 3);
    }
    closedir(d);
  }
  std::unique_ptr<filescan> scan(make_filescan());
  scan->add_path_to_scan(platform_path::init_d_dir);
  while (scan->next()) {
    scan->get_filename(name, sizeof name);
    table.start_row(name);
    table.log_data(name);
    for (int i = 0; i <= 6; i++) table.log_data(started[i].count(name) ? "on" : "off");
    table.end_row();
  }
  return false;
}

probe_group* make_startup_group() {
  probe_group* group =
      new probe_group("Linux Startup Information", 16, "Linux Startup Information");
  new file_probe(group, "INIT Configuration", 2, 1, platform_path::inittab, 0xFFEF);
  new grub_probe(group);
  new boot_probe(group);
  new rcd_probe(group);
  return group;
}
