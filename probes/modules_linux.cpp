// modules_linux.cpp - installed kernel modules through one shell pipeline,
// and the loaded modules from the kernel's list.
#include "modules_linux.h"

#include <dirent.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "capture.h"
#include "debug.h"
#include "platform_paths.h"
#include "run_command.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

/// Characters kept of each installed-module field.
const size_t MODULE_FIELD = 79;

std::wstring cut(const wchar_t* text, bool whole) {
  std::wstring s(text);
  if (!whole && s.size() > MODULE_FIELD) s.resize(MODULE_FIELD);
  if (s == L"<none>") s.clear();
  return s;
}

/// The kernel release whose modules are listed: the system root's own when
/// it states one, else under a root its only or newest module directory, else
/// the running kernel's.
std::string kernel_release() {
  std::string release;
  FILE* f = sys_fopen_bounded(platform_path::proc_kernel_osrelease, 4096);
  if (f) {
    read_line(f, release, 256);
    fclose(f);
  }
  trim_whitespace(&release[0]);
  release.resize(strlen(release.c_str()));
  if (release.empty() && sysroot_is_set()) {
    // A root without its kernel's word: the only or newest module directory.
    if (DIR* dir = sys_opendir(platform_path::lib_modules)) {
      while (dirent* d = readdir(dir))
        if (d->d_name[0] != '.' && d->d_type == DT_DIR && strverscmp(d->d_name, release.c_str()) > 0)
          release = d->d_name;
      closedir(dir);
    }
  } else if (release.empty()) {
    struct utsname u;
    if (uname(&u) == 0) release = u.release;
  }
  return release;
}

}  // namespace

bool parse_loaded_module_line(const char* line, loaded_module& out) {
  out.name[0] = out.dependants[0] = '\0';
  out.size = out.uses = 0;
  const char* live = strstr(line, " Live");
  if (!live) return false;
  // "name size uses - Live ..." has no dependants; otherwise the list ends
  // just before the blank in front of "Live".
  size_t end = static_cast<size_t>(live - line);
  if (end >= 2 && strncmp(live - 2, " - Live", 7) == 0) end -= 1;
  std::string cut_line(line, end);
  char name[sizeof out.name] = "";
  long long size = 0, uses = 0;
  int got = sscanf(cut_line.c_str(), "%63s %lli %lli", name, &size, &uses);
  if (got < 1) return false;
  snprintf(out.name, sizeof out.name, "%s", name);
  if (got >= 2) out.size = size;
  if (got >= 3) out.uses = uses;
  size_t blank = cut_line.rfind(' ');
  if (blank != std::string::npos && got >= 3)
    snprintf(out.dependants, sizeof out.dependants, "%s", cut_line.c_str() + blank + 1);
  return true;
}

std::string module_key(const char* name) {
  std::string key = name ? name : "";
  for (char& c : key)
    if (c == '-') c = '_';
  return key;
}

bool module_record_reader::feed(const wchar_t* line) {
  if (done) {
    record = module_record();
    done = false;
  }
  if (wcscmp(line, L"--EOM--") == 0) {
    done = true;
    return true;
  }
  struct field {
    const wchar_t* prefix;
    std::wstring module_record::*member;
    bool first_only;  // module information lines: the first of several wins
    bool whole;       // never cut: a cut name or path names another module
  };
  static const field fields[] = {
      {L"Module:", &module_record::name, false, true},
      {L"Path:", &module_record::path, false, true},
      {L"Author:", &module_record::author, false, false},
      {L"Version:", &module_record::version, false, true},
      {L"Description:", &module_record::description, false, false},
      {L"License:", &module_record::license, false, false},
      {L"Loaded:", &module_record::loaded, false, false},
      {L"author:", &module_record::author, true, false},
      {L"description:", &module_record::description, true, false},
      {L"license:", &module_record::license, true, false},
      {L"version:", &module_record::version, true, true},
  };
  for (const field& f : fields) {
    size_t n = wcslen(f.prefix);
    if (wcsncmp(line, f.prefix, n) != 0) continue;
    std::wstring& value = record.*(f.member);
    if (f.first_only && !value.empty()) return false;
    const wchar_t* p = line + n;
    while (*p == L' ' || *p == L'\t') ++p;
    value = cut(p, f.whole);
    return false;
  }
  printd("modules: previous line not recognized\n");
  return false;
}

void mark_loaded(module_record& record, const std::set<std::string>& loaded_keys) {
  if (!record.loaded.empty()) return;
  std::string name(record.name.begin(), record.name.end());
  for (const char* suffix : {".ko.xz", ".ko.zst", ".ko.gz", ".ko", ".o"}) {
    size_t n = strlen(suffix);
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) {
      name.resize(name.size() - n);
      break;
    }
  }
  record.loaded = loaded_keys.count(module_key(name.c_str())) ? L"Yes" : L"No";
}

std::string installed_modules_command(bool with_info) {
  // Without the information tool (`true` in its place) names and paths only.
  return std::string(with_info ? "PATH=\"$PATH:/sbin:/usr/sbin:/usr/local/sbin\"; "
                                 "MODINFO=$(command -v modinfo) || exit 1; export MODINFO; "
                               : "MODINFO=true; export MODINFO; ") +
         "find . -type f \\( -name '*.ko' -o -name '*.ko.xz' -o -name '*.ko.zst' "
         "-o -name '*.ko.gz' -o -name '*.o' \\) -exec sh -c '"
         "NL=\"\n\"; "
         "for M do S=$M; "
         "case $S in *\"$NL\"*) S=$(printf \"%s\" \"$S\" | tr \"\\n\" \"?\");; esac; "
         "D=${S%/*}; D=${D#.}; D=${D#/}; "
         "printf \"Module: %s\\nPath: %s\\n\" \"${S##*/}\" \"$D\"; "
         "\"$MODINFO\" \"$M\" 2>/dev/null; printf -- \"--EOM--\\n\"; done' sh {} + 2>/dev/null";
}

std::set<std::string> loaded_module_keys() {
  std::set<std::string> keys;
  FILE* f = sys_fopen(platform_path::proc_modules, "r");
  if (!f) return keys;
  std::string line;
  while (read_line(f, line, 4096)) {
    char name[64];
    if (sscanf(line.c_str(), "%63s", name) == 1) keys.insert(module_key(name));
  }
  fclose(f);
  return keys;
}

modules_probe::modules_probe(probe_group* group) : probe(group, "Kernel Modules", 4, 0x0001) {}

bool modules_probe::run(FILE* report) {
  static const Column columns[] = {
      {"Name", STRING, 80},    {"Path", STRING, 80},        {"Version", STRING, 80}, {"Author", STRING, 80},
      {"License", STRING, 80}, {"Description", STRING, 80}, {"Loaded", STRING}};
  Table table(report, "Kernel Modules", "MODULE");
  table.heading(columns);

  std::string release = kernel_release();
  // A release is one name: a slash or a dot name would lead elsewhere.
  if (release.empty() || release == "." || release == ".." ||
      release.find('/') != std::string::npos) {
    printd("modules: kernel release not used as a directory name: %s\n", release.c_str());
    return false;
  }
  std::string base = std::string(platform_path::lib_modules) + "/" + release;
  // Under a root the running machine's module information tool is not asked
  // (its versions stay empty); a replay answers with the recorded one when
  // the capture was made on the machine itself.
  std::string command = installed_modules_command();
  if (sysroot_is_set() && !replay_has_command(command.c_str())) command = installed_modules_command(false);
  printd("modules: '%s' in %s\n", command.c_str(), base.c_str());
  FILE* pipe = command_open_in_dir(command.c_str(), base.c_str());
  if (!pipe) {
    print_error("modules: popen", errno);
    return false;
  }
  std::set<std::string> loaded = loaded_module_keys();
  module_record_reader reader;
  wchar_t* buffer = nullptr;
  unsigned size = 0;
  int rows = 0;
  int n;
  while ((n = get_wide_line(pipe, &buffer, &size)) >= 0) {
    if (n > 0 && buffer[n - 1] == L'\n') buffer[n - 1] = L'\0';
    if (!reader.feed(buffer)) continue;
    module_record& r = reader.record;
    mark_loaded(r, loaded);
    table.start_row(r.name.c_str());
    for (const std::wstring* field : {&r.name, &r.path, &r.version, &r.author, &r.license,
                                      &r.description, &r.loaded})
      table.log_wide_data(field->c_str());
    table.end_row();
    ++rows;
  }
  print_error("modules: get_wide_line", errno);
  delete[] buffer;
  command_note_limit(report, pipe, "modinfo");
  command_close(pipe);
  return rows > 0;
}

loaded_modules_probe::loaded_modules_probe(probe_group* group)
    : probe(group, "Loaded Modules", 3, 0x0001) {}

bool loaded_modules_probe::run(FILE* report) {
  static const Column columns[] = {{"Name", STRING, 32}, {"Size", INTEGER}, {"Number of Uses", INTEGER},
                                   {"Dependant Modules", STRING, 128}};
  Table table(report, "Loaded Modules");
  table.heading(columns);
  FILE* f = sys_fopen(platform_path::proc_modules, "r");
  if (!f) {
    print_error("modules: fopen", errno);
    return true;
  }
  std::string line;
  loaded_module m;
  while (read_line(f, line, 64 * 1024)) {
    if (!parse_loaded_module_line(line.c_str(), m)) continue;
    table.write_row(m.name, m.name, m.size, m.uses, m.dependants);
  }
  print_error("modules: getline", errno);
  fclose(f);
  return true;
}
