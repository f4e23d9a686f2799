// modules_linux.h - kernel modules: those installed for the running kernel
// with their module information, and those loaded now.
#pragma once

#include <cstdio>
#include <set>
#include <string>

#include "probe.h"

/// One line of the loaded-module list, for a module in the Live state.
struct loaded_module {
  char name[64];          ///< the kernel keeps names below 64 bytes
  long long size;
  long long uses;
  char dependants[4096];  ///< "a,b," as listed; "" for none
};
/// False for a line of a module that is not Live (loading or unloading).
bool parse_loaded_module_line(const char* line, loaded_module& out);

/// A module name compared as the kernel does: "-" and "_" are the same.
std::string module_key(const char* name);

/// The installed-module records, read line by line from the listing
/// pipeline: "Module:", "Path:", the module information lines and "--EOM--".
struct module_record {
  std::wstring name, path, version, author, license, description, loaded;
};
class module_record_reader {
 public:
  /// Takes one line (without line end); true when it ended a record, which is
  /// then in `record` until the next line.
  bool feed(const wchar_t* line);
  module_record record;

 private:
  bool done = false;
};

/// Marks a finished record's Loaded column from the loaded-module names
/// (keys as module_key gives them) when the listing left it empty.
void mark_loaded(module_record& record, const std::set<std::string>& loaded_keys);

/// The shell command that lists the modules installed under its working
/// directory (the release's module directory); POSIX shell only. Without
/// `with_info` the module information tool is not run: names and paths only.
std::string installed_modules_command(bool with_info = true);

/// "Kernel Modules" of "Device Driver Information".
class modules_probe : public probe {
 public:
  explicit modules_probe(probe_group* group);
  bool test() override { return true; }
  bool run(FILE* report) override;
};

/// "Loaded Modules" of "Device Driver Information".
class loaded_modules_probe : public probe {
 public:
  explicit loaded_modules_probe(probe_group* group);
  bool test() override { return true; }
  bool run(FILE* report) override;
};

/// The names of the loaded modules as module_key gives them.
std::set<std::string> loaded_module_keys();
