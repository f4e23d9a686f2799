// run_command.cpp - external commands through the shell, read through a pipe.
#include "run_command.h"

#include <sys/stat.h>

#include "sysroot.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

/// The commands running now: the stream read by the caller and the child.
struct running_command {
  FILE* stream;
  pid_t pid;
};

const int MAX_RUNNING = 16;
running_command running[MAX_RUNNING];

running_command* find_slot(FILE* stream) {
  for (auto& r : running)
    if (r.stream == stream) return &r;
  return nullptr;
}

/// Starts the shell with its output on `out_fd`; returns the child or -1.
/// Both pipe ends are close-on-exec, so only the copy made on standard
/// output reaches the command. Standard output is set first and standard
/// input last, so it works even when the caller's own 0 or 1 were closed
/// and the pipe took those numbers.
pid_t spawn_shell(const char* command, int out_fd, int in_fd) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  if (in_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, in_fd, STDIN_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const char* argv[] = {"sh", "-c", command, nullptr};
  // The command starts with default handling of SIGPIPE and no blocked
  // signals, whatever this program set for itself.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, pipe_only;
  sigemptyset(&none);
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &pipe_only);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char**>(argv), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  return pid;
}

/// Starts `command` with its standard input from `in_fd` (-1: /dev/null) and
/// registers the running command; returns its output stream.
FILE* start_command(const char* command, int in_fd) {
  if (!command) {
    errno = EINVAL;
    return nullptr;
  }
  running_command* slot = find_slot(nullptr);
  if (!slot) {
    errno = EMFILE;
    return nullptr;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
  pid_t pid = spawn_shell(command, fds[1], in_fd);
  int err = errno;
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    errno = err;
    return nullptr;
  }
  FILE* stream = fdopen(fds[0], "r");
  if (!stream) {
    err = errno;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    errno = err;
    return nullptr;
  }
  slot->stream = stream;
  slot->pid = pid;
  return stream;
}

}  // namespace

FILE* command_open(const char* command) { return start_command(command, -1); }

FILE* command_open_input(const char* command, const char* platform_path) {
  int in_fd = sys_open(platform_path, O_RDONLY | O_NONBLOCK);
  if (in_fd < 0) return nullptr;
  struct stat st;
  if (fstat(in_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in_fd);
    errno = EINVAL;
    return nullptr;
  }
  // The command reads it in blocking mode like any regular file.
  fcntl(in_fd, F_SETFL, fcntl(in_fd, F_GETFL) & ~O_NONBLOCK);
  FILE* stream = start_command(command, in_fd);
  int err = errno;
  close(in_fd);
  errno = err;
  return stream;
}

int command_close(FILE* stream) {
  running_command* slot = stream ? find_slot(stream) : nullptr;
  if (!slot) {
    errno = ECHILD;
    return -1;
  }
  pid_t pid = slot->pid;
  slot->stream = nullptr;
  slot->pid = 0;
  fclose(stream);
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -1 : status;
}

std::string shell_quote(const char* s) {
  std::string out = "'";
  for (const char* p = s ? s : ""; *p; ++p) {
    if (*p == '\'')
      out += "'\\''";
    else
      out += *p;
  }
  out += "'";
  return out;
}
