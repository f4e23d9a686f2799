// gatherer_probe.cpp - the "GATHERER INFORMATION" section (program, command
// line, probe tasks) and the "System Logs" probes.
#include "gatherer_probe.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture.h"
#include "clock.h"
#include "debug.h"
#include "mask.h"
#include "platform_paths.h"
#include "run_command.h"
#include "software_linux.h"
#include "sysroot.h"
#include "table.h"
#include "task.h"
#include "utf8.h"
#include "util_string.h"
#include "xml.h"
#include "zelvarn2.h"

#ifndef ZV_BUILDER
#define ZV_BUILDER "unknown"
#endif
#ifndef ZV_BUILD_HOST
#define ZV_BUILD_HOST "unknown"
#endif

namespace {

int kept_argc = 0;
const wchar_t* const* kept_argv = nullptr;

const int LOG_LINES = 500;

}  // namespace

void log_row(Table* table, const char* name, const char* value) {
  if (!value) value = "";
  if (!table) {
    printd("gatherer: %s = %s\n", name, value);
    return;
  }
  table->write_row(name, name, value);
}

void get_gatherer_information(FILE* report) {
  static const Column columns[] = {{"Name", STRING, 15}, {"Value", STRING, 50}};
  Table* table = nullptr;
  if (report) {
    table = new Table(report, "GATHERER INFORMATION");
    table->heading(columns);
  }
  char program[256];
  if (!get_program_filename(program, sizeof program)) program[0] = '\0';
  log_row(table, "Gatherer", program);
  char text[512];
  snprintf(text, sizeof text, "%s %s (%s)", GTH_VERSION, GTH_SUBVERSION ? GTH_SUBVERSION : "", GTH_RELEASE);
  log_row(table, "Gatherer Version", text);
  snprintf(text, sizeof text, "%s %s", __DATE__, __TIME__);
  log_row(table, "Build on", text);
  log_row(table, "Build by", ZV_BUILDER);
  log_row(table, "Build host", ZV_BUILD_HOST);
  log_row(table, "Current Directory", GetCurrentDir());
  char user[256] = "";
  get_user_name(user, sizeof user);
  log_row(table, "User", mask_value(MASK_USER, user).c_str());
  // What the report describes: the system root, and for a replayed capture
  // the machine and instant it was taken from.
  log_row(table, "System Root", sysroot_is_set() ? sysroot_get() : "/");
  if (replay_active()) {
    log_row(table, "Capture Host", mask_value(MASK_HOST, replay_host()).c_str());
    struct tm t;
    char when[64] = "";
    if (clock_utc(replay_time(), &t)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &t);
    log_row(table, "Capture Time", when);
  }
  if (mask_enabled()) log_row(table, "Masking", mask_kinds_text().c_str());
  delete table;
}

void get_gatherer_parameters(FILE* report, int argc, const wchar_t* const* argv) {
  if (argv) {
    kept_argc = argc;
    kept_argv = argv;
  }
  int count = kept_argc;
  const wchar_t* const* words = kept_argv;
  if (!words) {
    // The command line run control kept at its start.
    count = gatherer_saved_argc();
    words = gatherer_saved_argv();
  }
  if (!words || count < 1) return;
  if (!report) {
    std::string line = "argv:";
    for (int i = 0; i < count; ++i) {
      char* narrow = words[i] ? wide_to_mbcs(words[i]) : nullptr;
      line += " '";
      line += narrow ? narrow : "";
      line += "'";
      delete[] narrow;
    }
    printd("%s\n", line.c_str());
    return;
  }
  static const Column columns[] = {{"Parameter", INTEGER}, {"Value", STRING, 50}};
  Table table(report, "Parameters");
  table.heading(columns);
  for (int i = 0; i < count; ++i) {
    char label[16];
    snprintf(label, sizeof label, "%d", i);
    table.start_row(label);
    table.log_data(i);
    table.log_wide_data(words[i] ? words[i] : L"");
    table.end_row();
  }
}

void get_gatherer_probes_list(FILE* report) {
  static const Column columns[] = {
      {"Name", STRING, 20}, {"Detail", INTEGER}, {"Enabled", BOOL, 5}, {"Blocked", BOOL, 5}};
  Table table(report, "Probes List");
  table.heading(columns);
  for (task* t = task::first; t; t = t->get_next()) {
    if (t->is_system_task()) continue;
    table.write_row(t->get_name(), t->get_name(), t->get_detail(), static_cast<int>(t->is_enabled()),
                    static_cast<int>(t->is_blocked()));
  }
}

gatherer_probe::gatherer_probe() : legacy_probe("GATHERER INFORMATION", 14) {
  detail = 1;
  platform = 0x2F71;
  customers = 0xFFEF;
}

bool gatherer_probe::run(FILE* report) {
  start_section(report, "GATHERER INFORMATION");
  get_gatherer_information(report);
  get_gatherer_parameters(report, 0, nullptr);
  get_gatherer_probes_list(report);
  end_section(report);
  return true;
}

// ---- System Logs -----------------------------------------------------------

std::vector<std::string> message_files(bool uncompressed_only) {
  struct found {
    std::string path;
    struct timespec mtime;
  };
  std::vector<found> files;
  const char* base = strrchr(platform_path::var_log_messages, '/') + 1;
  DIR* dir = sys_opendir(platform_path::var_log);
  if (!dir) {
    print_error(platform_path::var_log, errno);
    return {};
  }
  while (struct dirent* e = readdir(dir)) {
    if (strncmp(e->d_name, base, strlen(base)) != 0) continue;
    if (uncompressed_only && (strstr(e->d_name, "bz2") || strstr(e->d_name, "gz"))) continue;
    std::string path = std::string(platform_path::var_log) + "/" + e->d_name;
    struct stat st;
    // Only regular files, looked at inside the root: a FIFO would hold the
    // reading command forever, and a link leads nowhere outside the tree.
    if (sys_stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    files.push_back({path, st.st_mtim});
  }
  closedir(dir);
  std::sort(files.begin(), files.end(), [](const found& a, const found& b) {
    if (a.mtime.tv_sec != b.mtime.tv_sec) return a.mtime.tv_sec < b.mtime.tv_sec;
    if (a.mtime.tv_nsec != b.mtime.tv_nsec) return a.mtime.tv_nsec < b.mtime.tv_nsec;
    return a.path > b.path;
  });
  // The newest files are enough for the last lines; the number of
  // descriptors handed to the command stays bounded.
  if (files.size() > MESSAGE_FILES_MAX)
    files.erase(files.begin(), files.end() - static_cast<long>(MESSAGE_FILES_MAX));
  std::vector<std::string> paths;
  for (const found& f : files) paths.push_back(f.path);
  return paths;
}

std::string messages_command(size_t file_count, bool kernel_only) {
  std::string command = "cat";
  for (size_t i = 0; i < file_count; ++i) command += " " + command_file_arg(i);
  // -a: a line with bytes foreign to the locale (a crash leaves NULs) is
  // still a line, not a reason to call the whole log binary.
  if (kernel_only) command += " | grep -a \"kernel:\"";
  return command + " | tail -n " + std::to_string(LOG_LINES);
}

syslog_probe::syslog_probe(probe_group* group, const char* probe_name, const char* log_file_path,
                           kind probe_kind)
    : probe(group, probe_name, 4, 0x0001), file(log_file_path), what(probe_kind) {
  customers = 0xFFEF;
}

std::string journal_command(bool kernel_only) {
  return "journalctl --no-pager --quiet --output=short -n " + std::to_string(LOG_LINES) +
         (kernel_only ? " _TRANSPORT=kernel" : "") + " 2>&1";
}

namespace {

/// A current system keeps its logs in the journal. Its files are read by
/// journalctl only for the machine it runs on: handed a system root, the tool
/// would follow links inside it anywhere, so under a root there is none.
bool journal_available() {
  static tool_lookup journalctl("journalctl");
  if (!commands_describe_system()) return false;
  if (sys_access(platform_path::var_log_journal, X_OK) != 0 && sys_access(platform_path::run_log_journal, X_OK) != 0)
    return false;
  return journalctl.test();
}

}  // namespace

bool syslog_probe::test() {
  struct stat st;
  from_journal = false;
  if (sys_access(file, R_OK) != 0 || sys_stat(file, &st) != 0) {
    print_error(file, errno);
    // No messages file: the system and kernel logs come from the journal.
    from_journal = what != SINGLE_FILE && journal_available();
    if (from_journal) printd("list_probe: %s from the journal\n", name);
    return from_journal;
  }
  if (!S_ISREG(st.st_mode)) {
    print_error(file, EINVAL);
    return false;
  }
  return true;
}

bool syslog_probe::run(FILE* report) {
  FILE* output;
  std::string command;
  if (from_journal) {
    command = journal_command(what == KERNEL_MESSAGES);
    output = command_open(command.c_str());
  } else if (what == SINGLE_FILE) {
    command = "tail -n " + std::to_string(LOG_LINES);
    output = command_open_input(command.c_str(), file);
  } else {
    std::vector<std::string> files = message_files(what == KERNEL_MESSAGES);
    if (files.empty()) return false;
    command = messages_command(files.size(), what == KERNEL_MESSAGES);
    output = command_open_files(command.c_str(), files);
  }
  if (!output) {
    print_error(command.c_str(), errno);
    return false;
  }
  // The whole output is in the report before the exit status is looked at.
  log_file(report, name, output);
  int status = command_close(output);
  if (status < 0) {
    print_error("list_probe: pclose", errno);
    return false;
  }
  int rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  printd("list_probe: %s: rc = %d\n", name, rc);
  return rc == 0;
}
