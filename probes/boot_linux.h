// boot_linux.h - the "Linux Startup Information" probes: the boot loader's
// menu entries and options, the files under /boot with the running kernel's
// command line, and the init scripts started in each runlevel.
#pragma once

#include <cstdio>
#include <algorithm>
#include <string>

#include "probe.h"

/// One boot menu entry; every field is cut to its buffer less one.
struct grub_entry {
  char title[128];
  char root[16];
  char kernel[128];
  char options[128];
  char initrd[80];
  bool chain_loaded;
};

/// Collects boot menu entries from the lines of a menu file.
class grub_menu_parser {
 public:
  grub_menu_parser();
  /// Takes one line (trimmed; empty and comment lines are ignored). True when
  /// the line ended an entry, which is then in *out.
  bool feed(const char* line, grub_entry* out);
  /// At the end of the file: true when a titled entry was still open.
  bool finish(grub_entry* out);

 private:
  void clear();
  grub_entry current;
};

/// Collects menu entries from the lines of a GRUB 2 configuration
/// (grub.cfg): each "menuentry" block, submenus included, gives one entry
/// with its title, the root it sets, the kernel image and options of its
/// linux line, its initial RAM disk line and whether it chain-loads.
class grub2_menu_parser {
 public:
  grub2_menu_parser();
  /// Takes one line (trimmed; empty and comment lines are ignored). True when
  /// the line closed an entry, which is then in *out.
  bool feed(const char* line, grub_entry* out);

 private:
  grub_entry current;
  int depth;        ///< braces open
  int entry_depth;  ///< depth the open entry started at; -1 when none
};

/// A GRUB 2 option assignment ("set default=0", "set timeout=5", "set
/// fallback=1", "set color_normal=..."): as parse_grub_option, the value
/// without its quotes.
bool parse_grub2_option(const char* line, const char** keyword, const char** name, char* value,
                        size_t value_size);

/// A menu option line ("default", "fallback", "timeout", "color"): true with
/// the keyword, the name cell and the value (cut to value_size less one).
bool parse_grub_option(const char* line, const char** keyword, const char** name, char* value,
                       size_t value_size);

/// One word of the kernel command line: option and value (empty without "=").
struct cmdline_option {
  std::string word;
  std::string option;
  std::string value;
  bool has_value;
};
/// Splits a command line at blanks into words (each cut at 255 characters)
/// and calls `each` for every word in order.
template <class F>
void parse_cmdline(const std::string& line, F each);

class grub_probe : public probe {
 public:
  explicit grub_probe(probe_group* group);
  /// On the first call, looks for the first readable menu file and keeps it.
  bool test() override;
  /// "GRUB Boot entries" and "GRUB Options"; true when a row was written.
  bool run(FILE* report) override;

 private:
  bool tested;
  const char* menu_file;
  bool grub2;  ///< menu_file is a GRUB 2 configuration
};

class boot_probe : public probe {
 public:
  explicit boot_probe(probe_group* group);
  bool test() override;
  /// "/boot Contents" and "Kernel Command Line"; true when an option with a
  /// value was written.
  bool run(FILE* report) override;
};

class rcd_probe : public probe {
 public:
  explicit rcd_probe(probe_group* group);
  /// "Startup Services"; false, as the table says nothing of success.
  bool run(FILE* report) override;
};

/// Makes the group "Linux Startup Information" with its four probes.
probe_group* make_startup_group();

template <class F>
void parse_cmdline(const std::string& line, F each) {
  size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) i++;
    size_t start = i;
    while (i < n && line[i] != ' ' && line[i] != '\t') i++;
    if (i == start) break;
    cmdline_option o;
    o.word = line.substr(start, std::min<size_t>(i - start, 255));
    size_t eq = o.word.find('=');
    o.has_value = eq != std::string::npos;
    if (o.has_value) {
      o.option = o.word.substr(0, std::min<size_t>(eq, 256));
      o.value = o.word.substr(eq + 1);
    } else {
      o.option = o.word;
    }
    each(o);
  }
}
