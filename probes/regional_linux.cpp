// regional_linux.cpp - the "Locale" table: the locale named by the system
// configuration, by the user's start-up files and by the environment, with
// the language, country and code set the C library gives for each (under a
// system root: the code set the name states and the language and country of
// the root's locale source file).
#include "regional_linux.h"

#include <langinfo.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture.h"
#include "debug.h"
#include "platform_paths.h"
#include "safe_file.h"
#include "sysroot.h"
#include "table.h"
#include "utf8.h"
#include "util_string.h"
#include "xml.h"

namespace {

const int LINE_LIMIT = 1024;
const int NAME_LENGTH = 32;

/// Copies at most length - 1 characters of [begin, end) into value.
void copy_value(const char* begin, const char* end, char* value, int length) {
  size_t n = static_cast<size_t>(end - begin);
  if (n > static_cast<size_t>(length - 1)) n = static_cast<size_t>(length - 1);
  memcpy(value, begin, n);
  value[n] = '\0';
}

/// The first line of `f` assigning `key`: 1 with its value, else 0. Closes f.
int scan_rcfile(FILE* f, const char* key, char* value, int length) {
  int found = 0;
  std::string line;
  while (!found && read_line(f, line, LINE_LIMIT - 1))
    found = rcfile_line_value(line.c_str(), key, value, length);
  fclose(f);
  return found;
}

/// parse_rcfile of a platform file, opened under the system root.
int parse_platform_rcfile(const char* platform_path, const char* key, char* value, int length) {
  if (value && length > 0) value[0] = '\0';
  if (!value || length <= 0) return 0;
  FILE* f = sys_fopen_bounded(platform_path);
  if (!f) {
    print_error(platform_path, errno);
    return 0;
  }
  return scan_rcfile(f, key, value, length);
}

/// The system files: 1 with the value of the first that assigns the locale.
/// The legacy files come first; a current system names its default locale
/// in /etc/default/locale or /etc/locale.conf.
int system_locale(char* buffer, int length) {
  if (parse_platform_rcfile(platform_path::sysconfig_i18n, "LANG", buffer, length)) return 1;
  if (parse_platform_rcfile(platform_path::sysconfig_language, "RC_LANG", buffer, length)) return 1;
  return parse_platform_rcfile(platform_path::default_locale, "LANG", buffer, length) ||
         parse_platform_rcfile(platform_path::locale_conf, "LANG", buffer, length);
}

int user_locale(char* buffer, int length) {
  char path[4096];
  // Under a system root the home directory's files are the root's.
  auto parse = sysroot_is_set() ? parse_platform_rcfile : parse_rcfile;
  if (build_home_path(".i18n", path, sizeof path) && parse(path, "LANG", buffer, length))
    return 1;
  if (build_home_path(".profile", path, sizeof path) &&
      parse(path, "export LANG", buffer, length))
    return 1;
  return system_locale(buffer, length);
}

/// A text of the locale in force, as a wide string (its bytes one by one when
/// it does not decode).
std::wstring langinfo_text(nl_item item) {
  const char* s = nl_langinfo(item);
  std::wstring out;
  if (!s) return out;
  mbstate_t state = {};
  const char* p = s;
  size_t left = strlen(s);
  while (left > 0) {
    wchar_t wc;
    size_t n = mbrtowc(&wc, p, left, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
      wc = static_cast<unsigned char>(*p);
      n = 1;
      state = mbstate_t();
    }
    out += wc;
    p += n;
    left -= n;
  }
  return out;
}

/// A row of the "Locale" table.
struct locale_row {
  std::string label, name;
  std::wstring language, country, codeset;
};

/// The texts of a row as a capture keeps them, and back.
std::string to_utf8(const std::wstring& text) {
  std::vector<unsigned char> out(4 * text.size() + 1);
  wide_to_utf8(text.c_str(), out.data(), static_cast<unsigned>(out.size()));
  return reinterpret_cast<const char*>(out.data());
}

std::wstring from_utf8(const std::string& text) {
  std::vector<wchar_t> out(text.size() + 1);
  utf8_to_wide(reinterpret_cast<const unsigned char*>(text.c_str()), out.data(), static_cast<unsigned>(out.size()));
  return out.data();
}

/// The name of a level from the files (or, for the thread, the environment):
/// 1 when one was found.
int find_locale_name(int level, char* buffer, int length) {
  switch (level) {
    case LOCALE_SYSTEM_DEFAULT: return system_locale(buffer, length);
    case LOCALE_CURRENT_USER: return user_locale(buffer, length);
    case LOCALE_CURRENT_THREAD: {
      const char* lang = getenv("LANG");
      if (lang) copy_value(lang, lang + strlen(lang), buffer, length);
      return 1;
    }
    default: return 0;
  }
}

/// The first white-space-delimited word of `p` equals `word`: the text after
/// it, else null.
const char* after_word(const char* p, const char* word) {
  size_t n = strlen(word);
  if (strncmp(p, word, n) != 0) return nullptr;
  if (p[n] && !isspace(static_cast<unsigned char>(p[n]))) return nullptr;
  p += n;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

/// Language and country of a locale name under the system root, from its
/// source file there; "Unknown" for what the file does not state.
void root_locale_identity(const std::string& name, std::wstring& language, std::wstring& country) {
  language = country = L"Unknown";
  std::string base = name.substr(0, name.find_first_of(".@"));
  // Only a plain file name in the locale directory is opened.
  if (base.empty() || base.find('/') != std::string::npos || base.find("..") != std::string::npos) return;
  std::string path = std::string(platform_path::i18n_locales_dir) + base;
  FILE* f = sys_fopen_bounded(path.c_str(), 1 << 20);
  if (!f) {
    print_error(path.c_str(), errno);
    return;
  }
  locale_source_reader reader;
  std::string line;
  while (read_line(f, line, LINE_LIMIT - 1) && reader.feed(line)) {
  }
  fclose(f);
  if (!reader.language.empty()) language = from_utf8(reader.language);
  if (!reader.territory.empty()) country = from_utf8(reader.territory);
}

}  // namespace

std::string locale_name_codeset(const std::string& name) {
  if (name == "C" || name == "POSIX") return "ANSI_X3.4-1968";
  size_t dot = name.find('.');
  if (dot == std::string::npos) return "Unknown";
  std::string codeset = name.substr(dot + 1, name.find('@', dot) - dot - 1);
  if (codeset.empty()) return "Unknown";
  if (strcasecmp(codeset.c_str(), "utf8") == 0 || strcasecmp(codeset.c_str(), "utf-8") == 0) return "UTF-8";
  return codeset;
}

std::string locale_source_reader::decode(const char* p) const {
  std::string out;
  if (*p++ != '"') return out;
  while (*p && *p != '"') {
    if (*p == escape && p[1]) {
      out += p[1];
      p += 2;
      continue;
    }
    if (p[0] == '<' && p[1] == 'U') {
      char* end;
      unsigned long c = strtoul(p + 2, &end, 16);
      if (end > p + 2 && end - (p + 2) <= 8 && *end == '>' && isxdigit(static_cast<unsigned char>(p[2]))) {
        if (c > 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF)) out += to_utf8(std::wstring(1, static_cast<wchar_t>(c)));
        p = end + 1;
        continue;
      }
    }
    out += *p++;
  }
  return out;
}

bool locale_source_reader::feed(const std::string& text) {
  if (done) return false;
  const char* p = text.c_str();
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  if (!*p || *p == comment) return true;
  const char* rest;
  if (!in_section) {
    // The directives that change the syntax come before the sections.
    if ((rest = after_word(p, "comment_char")) && *rest) comment = *rest;
    else if ((rest = after_word(p, "escape_char")) && *rest) escape = *rest;
    else if (after_word(p, "LC_IDENTIFICATION")) in_section = true;
    return true;
  }
  if ((rest = after_word(p, "END")) && after_word(rest, "LC_IDENTIFICATION")) {
    done = true;
    return false;
  }
  if ((rest = after_word(p, "language")) && language.empty()) language = decode(rest);
  else if ((rest = after_word(p, "territory")) && territory.empty()) territory = decode(rest);
  return true;
}

const char* locale_setting_label(int level) {
  switch (level) {
    case LOCALE_SYSTEM_DEFAULT: return "System Default";
    case LOCALE_CURRENT_USER: return "Current User";
    case LOCALE_CURRENT_THREAD: return "Current Thread";
    default: return "";
  }
}

bool rcfile_line_value(const char* line, const char* key, char* value, int length) {
  if (!value || length <= 0) return false;
  value[0] = '\0';
  if (!line || !key || length < 2) return false;
  const char* p = line;
  for (const char* k = key; *k; ++k) {
    if (*k == ' ') {
      // As a blank in a scan format: any run of white space, none included.
      while (isspace(static_cast<unsigned char>(*p))) ++p;
    } else if (*p++ != *k) {
      return false;
    }
  }
  if (*p++ != '=') return false;
  const char* end;
  if (*p == '"') {
    ++p;
    end = strchr(p, '"');
    if (!end) end = p + strlen(p);
    if (end == p) return false;  // an empty quoted value is no value
  } else {
    end = p;
    while (*end && !isspace(static_cast<unsigned char>(*end))) ++end;
    if (end == p) return false;
  }
  copy_value(p, end, value, length);
  return true;
}

int parse_rcfile(const char* path, const char* key, char* value, int length) {
  if (value && length > 0) value[0] = '\0';
  if (!path || !key || !value || length <= 0) return 0;
  // A FIFO or device in place of the file is refused without blocking.
  FILE* f = open_regular_file(path, "r");
  if (!f) {
    print_error(path, errno);
    return 0;
  }
  return scan_rcfile(f, key, value, length);
}

int build_home_path(const char* name, char* buffer, int length) {
  if (!buffer || length <= 0) return 0;
  buffer[0] = '\0';
  const char* home = getenv("HOME");
  if (!home || !name) return 0;
  int n = snprintf(buffer, static_cast<size_t>(length), "%s/%s", home, name);
  if (n < 0 || n >= length) {
    buffer[0] = '\0';
    return 0;
  }
  return 1;
}

int get_and_set_locale(int level, char* buffer, int length, bool* applied) {
  if (applied) *applied = false;
  if (!buffer || length <= 0) return 0;
  buffer[0] = '\0';
  if (!find_locale_name(level, buffer, length)) return 0;
  bool ok = setlocale(LC_ALL, buffer) != nullptr;
  if (!ok) printd("locale: setlocale(%s) failed\n", buffer);
  if (applied) *applied = ok;
  return 1;
}

void get_locale_info(FILE* report) {
  static const Column columns[] = {{"Setting", ASCII_STRING, 32}, {"Locale", STRING, 32}, {"Language", STRING, 32},
                                   {"Country", STRING, 32},       {"Codeset", STRING, 32}};
  Table table(report, "Locale", "LOCALE_INSTANCE");
  table.heading(columns);

  // A replay writes the rows its capture kept: the language, country and
  // code set of a locale come from the locale files of the machine that
  // names it, which the capture does not hold.
  std::vector<locale_row> rows;
  const auto* kept = replay_lines("locale");
  if (kept) {
    for (const auto& fields : *kept)
      rows.push_back({fields[0], fields[1], from_utf8(fields[2]), from_utf8(fields[3]), from_utf8(fields[4])});
  }
  for (int level = LOCALE_SYSTEM_DEFAULT; level <= LOCALE_CURRENT_THREAD; ++level) {
    const char* label = locale_setting_label(level);
    if (kept) {
      bool recorded = false;
      for (const locale_row& r : rows) recorded = recorded || r.label == label;
      if (!recorded) note_not_under_root(label);
      continue;
    }
    // The thread's locale is the running program's: not stated under a root.
    if (level == LOCALE_CURRENT_THREAD && sysroot_is_set()) {
      note_not_under_root(label);
      continue;
    }
    char name[NAME_LENGTH];
    // Under a root the locale database of the running machine says nothing
    // about the root's locales: the name gives the code set, the root's
    // locale source file the language and country.
    if (sysroot_is_set()) {
      int found = find_locale_name(level, name, sizeof name);
      locale_row row = {label, found ? name : "Unknown", L"Unknown", L"Unknown", L"Unknown"};
      if (found) {
        root_locale_identity(name, row.language, row.country);
        row.codeset = from_utf8(locale_name_codeset(name));
      }
      rows.push_back(row);
      continue;
    }
    bool applied = false;
    int found = get_and_set_locale(level, name, sizeof name, &applied);
    locale_row row = {label, found ? name : "Unknown", L"Unknown", L"Unknown", L"Unknown"};
    // A name the library refused leaves the previous locale in force: its
    // language must not be shown beside this name.
    if (found && applied) {
#ifdef __GLIBC__
      row.language = langinfo_text(_NL_IDENTIFICATION_LANGUAGE);
      row.country = langinfo_text(_NL_IDENTIFICATION_TERRITORY);
#endif
      row.codeset = langinfo_text(CODESET);
    }
    setlocale(LC_ALL, "");
    rows.push_back(row);
  }
  std::vector<std::vector<std::string>> lines;
  for (const locale_row& r : rows) {
    table.start_row(r.label.c_str());
    table.log_data(r.label.c_str());
    table.log_data(r.name.c_str());
    table.log_wide_data(r.language.c_str());
    table.log_wide_data(r.country.c_str());
    table.log_wide_data(r.codeset.c_str());
    table.end_row();
    lines.push_back({r.label, r.name, to_utf8(r.language), to_utf8(r.country), to_utf8(r.codeset)});
  }
  if (capture_active()) capture_keep_lines("locale", lines);
}

void get_regional_info(FILE* report) {
  start_section(report, "REGIONAL SETTINGS");
  get_locale_info(report);
  end_section(report);
}

locale_probe::locale_probe() : legacy_probe("REGIONAL SETTINGS", 16) {
  detail = 3;
  platform = 0x2F71;
  customers = 0xFFFF;
}

bool locale_probe::run(FILE* report) {
  get_regional_info(report);
  return true;
}
