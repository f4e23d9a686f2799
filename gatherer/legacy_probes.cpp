// legacy_probes.cpp - the two generic probes: a command's output and a platform file.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "debug.h"
#include "probe.h"
#include "run_command.h"
#include "sysroot.h"
#include "xml.h"

namespace {

const char* safe_name(const char* s) { return s ? s : ""; }

/// True for a regular file under the system root that the real user can read;
/// the reason for a refusal goes to the debug log.
bool readable_regular_file(const char* platform_path) {
  if (sys_access(platform_path, R_OK) != 0) {
    print_error(platform_path, errno);
    return false;
  }
  struct stat st;
  if (sys_stat(platform_path, &st) != 0) {
    print_error(platform_path, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    // A FIFO or device would block the read or never end.
    print_error(platform_path, EINVAL);
    return false;
  }
  return true;
}

}  // namespace

// ---- list_probe -----------------------------------------------------------

list_probe::list_probe(probe_group* group, const char* probe_name, int probe_detail,
                       int probe_platform, const char* probe_file, const char* probe_command,
                       int probe_customers)
    : probe(group, probe_name, probe_detail, probe_platform),
      file(probe_file),
      command(probe_command) {
  customers = probe_customers;
}

bool list_probe::test() {
  if (!file) return true;
  if (sys_access(file, R_OK) == 0) return true;
  print_error(file, errno);
  return false;
}

bool list_probe::run(FILE* report) {
  if (!command) return false;
  FILE* output = command_open(command);
  if (!output) {
    print_error(command, errno);
    return false;
  }
  // The whole output is in the report before the exit status is looked at.
  log_file(report, name, output);
  int status = command_close(output);
  if (status < 0) {
    print_error("list_probe: pclose", errno);
    return false;
  }
  if (WIFSTOPPED(status)) {
    printd("file_probe: %s: status = %d\n", safe_name(name), status);
    return true;
  }
  if (WIFSIGNALED(status)) {
    printd("file_probe: %s: terminated by %s\n", safe_name(name), strsignal(WTERMSIG(status)));
    return false;
  }
  int rc = WEXITSTATUS(status);
  printd("list_probe: %s: rc = %d\n", safe_name(name), rc);
  return rc == 0;
}

// ---- file_probe -----------------------------------------------------------

file_probe::file_probe(probe_group* group, const char* probe_name, int probe_detail,
                       int probe_platform, const char* probe_path, int probe_customers)
    : probe(group, probe_name, probe_detail, probe_platform), path(probe_path) {
  customers = probe_customers;
}

bool file_probe::test() { return path && readable_regular_file(path); }

bool file_probe::run(FILE* report) {
  if (!path) return false;
  // Opened here, under the system root and refusing anything but a regular
  // file, so the embedding never reads a FIFO or device.
  FILE* source = sys_fopen(path, "r");
  if (!source) {
    print_error(path, errno);
    return false;
  }
  bool ok = log_file(report, path, source);
  fclose(source);
  return ok;
}
