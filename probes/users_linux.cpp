// users_linux.cpp - user accounts and groups, read under the system root.
#include "users_linux.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "debug.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

/// Characters taken of one field before it is cut to its buffer.
const size_t FIELD_MAX = 255;

/// The line without its line end, trimmed, split at ':' (each field at most
/// FIELD_MAX characters); `after_third`, when not null, gets the text after
/// the third separator.
std::vector<std::string> split_fields(const char* line, std::string* after_third = nullptr) {
  std::string text = line;
  trim_whitespace(&text[0]);
  text.resize(strlen(text.c_str()));
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t colon = text.find(':', start);
    size_t end = colon == std::string::npos ? text.size() : colon;
    fields.push_back(text.substr(start, std::min(end - start, FIELD_MAX)));
    if (fields.size() == 3 && after_third)
      *after_third = colon == std::string::npos ? "" : text.substr(colon + 1, FIELD_MAX);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return fields;
}

void copy_field(char* dst, size_t size, const std::vector<std::string>& fields, size_t index) {
  snprintf(dst, size, "%s", index < fields.size() ? fields[index].c_str() : "");
}

/// A number with the conversion rules of "%i" (0x hexadecimal, leading 0
/// octal); 0 when the field is not a number.
long long id_of(const std::vector<std::string>& fields, size_t index) {
  if (index >= fields.size()) return 0;
  return strtoll(fields[index].c_str(), nullptr, 0);
}

}  // namespace

void parse_passwd_line(const char* line, passwd_entry& out) {
  std::vector<std::string> f = split_fields(line);
  copy_field(out.name, sizeof out.name, f, 0);
  out.uid = id_of(f, 2);
  copy_field(out.home, sizeof out.home, f, 5);
  copy_field(out.shell, sizeof out.shell, f, 6);
}

void parse_group_line(const char* line, group_entry& out) {
  std::string members;
  std::vector<std::string> f = split_fields(line, &members);
  copy_field(out.name, sizeof out.name, f, 0);
  out.gid = id_of(f, 2);
  snprintf(out.members, sizeof out.members, "%s", members.c_str());
}

passwd_probe::passwd_probe(probe_group* group) : probe(group, "Users", 2, 0x0001) {}

bool passwd_probe::test() {
  FILE* f = sys_fopen(platform_path::etc_passwd, "r");
  if (!f) return false;
  fclose(f);
  return true;
}

bool passwd_probe::run(FILE* report) {
  std::string line;
  char id[32];
  {
    static const Column columns[] = {{"Username", STRING, 32, MASK_USER}, {"User ID", INTEGER},
                                     {"Home Directory", STRING, 64, MASK_HOME}, {"Shell", STRING, 16}};
    Table table(report, "User Accounts");
    table.heading(columns);
    FILE* f = sys_fopen(platform_path::etc_passwd, "r");
    if (!f) {
      print_error("passwd: fopen", errno);
    } else {
      passwd_entry e;
      while (read_line(f, line, 64 * 1024)) {
        parse_passwd_line(line.c_str(), e);
        snprintf(id, sizeof id, "%lld", e.uid);
        table.write_row(id, e.name, e.uid, e.home, e.shell);
        printd("passwd: got %s %lld %s %s\n", e.name, e.uid, e.home, e.shell);
      }
      print_error("passwd: getline", errno);
      fclose(f);
    }
  }
  static const Column columns[] = {
      {"Group name", STRING, 32, MASK_GROUP}, {"Group ID", INTEGER}, {"Users", STRING, 128, MASK_USER}};
  Table table(report, "Groups");
  table.heading(columns);
  FILE* f = sys_fopen(platform_path::etc_group, "r");
  if (!f) {
    print_error("group: fopen", errno);
    return true;
  }
  group_entry e;
  while (read_line(f, line, 64 * 1024)) {
    parse_group_line(line.c_str(), e);
    snprintf(id, sizeof id, "%lld", e.gid);
    table.write_row(id, e.name, e.gid, e.members);
  }
  print_error("group: getline", errno);
  fclose(f);
  return true;
}
