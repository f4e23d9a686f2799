// regional_linux.h - the locale settings at three levels: system, user and
// the running process.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

enum locale_setting { LOCALE_SYSTEM_DEFAULT = 0, LOCALE_CURRENT_USER = 1, LOCALE_CURRENT_THREAD = 2 };

/// The label of a level in the "Locale" table ("System Default", ...).
const char* locale_setting_label(int level);

/// True when `line` assigns `key` ("LANG", "export LANG": a blank in the key
/// stands for one or more blanks) at its start: key, "=", then a value in
/// double quotes (up to the closing quote) or a bare value (up to the first
/// white space). The value is cut to length - 1 characters; an empty value
/// does not count.
bool rcfile_line_value(const char* line, const char* key, char* value, int length);

/// Searches a host file (a regular file only, opened without blocking, lines
/// bounded) for the first line assigning `key`. 1 with the value, else 0.
int parse_rcfile(const char* path, const char* key, char* value, int length);

/// "$HOME/name" into buffer; 0 (and an empty buffer) when HOME is unset or
/// the path does not fit.
int build_home_path(const char* name, char* buffer, int length);

/// Finds the locale name of one level, stores it in buffer and makes it the
/// process locale. 1 when a name was found (for the process level always:
/// an unset LANG gives the empty name, the locale of the environment), else
/// 0. `applied`, when given, tells whether the process accepted the name.
int get_and_set_locale(int level, char* buffer, int length, bool* applied = nullptr);

/// The code set a locale name states, as the C library names it: the text
/// between "." and "@" ("utf8", "UTF8" and "utf-8" give "UTF-8"), for "C" and
/// "POSIX" "ANSI_X3.4-1968", else "Unknown".
std::string locale_name_codeset(const std::string& name);

/// Reads the LC_IDENTIFICATION section of a locale source file line by line:
/// its `language "..."` and `territory "..."` strings as UTF-8 (<Uhhhh>
/// escapes decoded), honouring the file's comment_char and escape_char.
struct locale_source_reader {
  std::string language, territory;
  /// Takes one line; false once the section has ended.
  bool feed(const std::string& line);

 private:
  char comment = '%', escape = '\\';
  bool in_section = false, done = false;
  std::string decode(const char* p) const;
};

/// The "Locale" table.
void get_locale_info(FILE* report);
/// The section "REGIONAL SETTINGS" around the "Locale" table.
void get_regional_info(FILE* report);

class locale_probe : public legacy_probe {
 public:
  locale_probe();
  bool run(FILE* report) override;
};
