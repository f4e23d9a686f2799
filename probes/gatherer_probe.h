// gatherer_probe.h - the report's account of the run itself, and the tails
// of the system and boot logs.
#pragma once

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "probe.h"

class Table;

/// One two-column row labelled with name; with a null table, the trace
/// "gatherer: name = value".
void log_row(Table* table, const char* name, const char* value);
/// The "GATHERER INFORMATION" table (null report: the debug log).
void get_gatherer_information(FILE* report);
/// Keeps a given command line; writes the "Parameters" table of the kept one
/// (null report: the trace "argv: 'a' 'b'").
void get_gatherer_parameters(FILE* report, int argc, const wchar_t* const* argv);
/// The "Probes List" table: every probe task with its detail, enabled and
/// blocked state.
void get_gatherer_probes_list(FILE* report);

/// "GATHERER INFORMATION": a section with the three tables above.
class gatherer_probe : public legacy_probe {
 public:
  gatherer_probe();
  bool run(FILE* report) override;
};

/// A member of "System Logs": the newest 500 lines of a log under the
/// system root, embedded as a file record titled with the probe's name.
class syslog_probe : public probe {
 public:
  enum kind {
    ALL_MESSAGES,     ///< every messages file, oldest first
    KERNEL_MESSAGES,  ///< the kernel lines of the uncompressed messages files
    SINGLE_FILE       ///< the file itself
  };
  /// `file`: the platform path whose readability makes the probe valid.
  syslog_probe(probe_group* group, const char* name, const char* file, kind what);
  /// True when the file is a readable regular file under the system root;
  /// for the messages kinds also where it is missing but the running
  /// system keeps a journal (then read with journalctl).
  bool test() override;
  bool run(FILE* report) override;

 private:
  const char* file;
  kind what;
  bool from_journal = false;
};

/// The journal's newest 500 entries, or its newest 500 kernel entries.
std::string journal_command(bool kernel_only);

/// The platform paths of the regular files of the log directory whose names
/// begin with "messages", oldest modification first (ties by name, newest
/// name first, as a reverse time listing gives), the newest
/// MESSAGE_FILES_MAX at most; with `uncompressed_only`, names containing
/// "bz2" or "gz" are left out.
const size_t MESSAGE_FILES_MAX = 64;
std::vector<std::string> message_files(bool uncompressed_only);
/// The shell command of a messages probe over `file_count` files handed to
/// it by command_open_files.
std::string messages_command(size_t file_count, bool kernel_only);
