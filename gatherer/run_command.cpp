// run_command.cpp - external commands through the shell, read through a pipe.
#include "run_command.h"

#include <sys/stat.h>
#include <sys/vfs.h>

#include "capture.h"
#include "debug.h"
#include "platform_paths.h"
#include "safe_file.h"
#include "sysroot.h"
#include "table.h"
#include "temp_files.h"
#include "zelvarn2.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int time_limit_seconds = 120;
long long output_limit_bytes = 64LL << 20;
command_limit last_limit = COMMAND_COMPLETE;

/// Milliseconds on the monotonic clock.
long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const int COMMAND_TEXT_SIZE = 256;

/// The commands running now: the stream read by the caller, the child (the
/// leader of its own process group) and the limits of its pipe.
struct running_command {
  FILE* stream;
  volatile pid_t pid;      ///< read by a signal handler
  int fd;                  ///< read end of the pipe
  long long deadline_ms;   ///< monotonic time the command must end by
  long long bytes;         ///< bytes handed to the reader so far
  long long bound;         ///< output bound in bytes
  command_limit limit;     ///< why reading stopped early
  bool at_line_start;      ///< the last byte handed over was a line feed
  bool noted;              ///< the caller reported the limit itself
  int capture_id;          ///< its recording in a capture (-1: none)
  bool replayed;           ///< read from a capture's recording, not run
  int replay_status;       ///< the recorded wait status
  command_limit replay_limit;  ///< the limit the recorded run hit
  char text[COMMAND_TEXT_SIZE];  ///< the command, cut, for the debug log
};

const int MAX_RUNNING = 16;
running_command running[MAX_RUNNING];

/// A limit hit by a command whose caller did not report it.
struct pending_note {
  std::string tool;
  command_limit limit;
  int seconds;
  long long bytes;
};
std::vector<pending_note> pending;
/// Rows kept at most until a section closes.
const size_t PENDING_MAX = 64;

/// The tool a command runs: its first word that is not a variable setting.
std::string tool_of(const char* command) {
  const char* p = command;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    const char* end = p;
    while (*end && !strchr(" \t;|&<>", *end)) ++end;
    std::string word(p, end);
    if (word.empty()) return "command";
    if (word.find('=') == std::string::npos || word.find('"') != std::string::npos ||
        word.find('\'') != std::string::npos) {
      // Shown on the console: quotes and control characters are left out.
      std::string shown;
      for (char c : word)
        if (c != '\'' && c != '"' && static_cast<unsigned char>(c) >= 32 && c != 127) shown += c;
      size_t slash = shown.rfind('/');
      if (slash != std::string::npos && slash + 1 < shown.size()) shown.erase(0, slash + 1);
      return shown.empty() ? "command" : shown;
    }
    p = end;
  }
}

void write_status_table(FILE* report, const std::vector<pending_note>& rows) {
  static const Column columns[] = {{"Command", STRING, 32}, {"Status", STRING, 64}};
  Table table(report, "Command Status");
  table.heading(columns);
  for (const pending_note& row : rows) {
    char status[96];
    if (row.limit == COMMAND_TIMED_OUT)
      snprintf(status, sizeof status, "timed out after %d s; rows before it kept", row.seconds);
    else
      snprintf(status, sizeof status, "output cut at %lld bytes; rows before it kept", row.bytes);
    table.write_row(row.tool.c_str(), row.tool.c_str(), status);
  }
}

void note_limit(running_command* r, command_limit limit) {
  if (r->limit != COMMAND_COMPLETE) return;
  r->limit = limit;
  if (limit == COMMAND_TIMED_OUT)
    printd("command: timed out after %d s: %s\n", time_limit_seconds, r->text);
  else
    printd("command: output cut at %lld bytes: %s\n", r->bytes, r->text);
}

/// Read function of a command stream: waits no longer than the deadline and
/// hands over no more than the bound, ending at a line feed where it can.
ssize_t limited_read(void* cookie, char* buf, size_t size) {
  running_command* r = static_cast<running_command*>(cookie);
  if (r->limit != COMMAND_COMPLETE || size == 0) return 0;
  if (r->replayed && r->fd < 0) return 0;
  for (;;) {
    long long left = r->deadline_ms - now_ms();
    if (left <= 0) {
      note_limit(r, COMMAND_TIMED_OUT);
      return 0;
    }
    struct pollfd p = {r->fd, POLLIN, 0};
    int ready = poll(&p, 1, left > 60000 ? 60000 : static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return -1;
    if (ready > 0) break;
  }
  ssize_t n;
  do {
    n = read(r->fd, buf, size);
  } while (n < 0 && errno == EINTR);
  // The recorded run read as far as its limit let it: so does the replay.
  if (n == 0 && r->replayed && r->replay_limit != COMMAND_COMPLETE) note_limit(r, r->replay_limit);
  if (n <= 0) return n;
  long long room = r->bound - r->bytes;
  if (n > room) {
    // Keep whole lines: the part after the last line feed within the bound
    // would only give a broken last row.
    ssize_t keep = room > 0 ? static_cast<ssize_t>(room) : 0;
    while (keep > 0 && buf[keep - 1] != '\n') --keep;
    r->bytes += keep;
    note_limit(r, COMMAND_OUTPUT_CUT);
    n = keep;
  } else {
    r->bytes += n;
  }
  if (n > 0) r->at_line_start = buf[n - 1] == '\n';
  if (n > 0 && r->capture_id >= 0) capture_command_data(r->capture_id, buf, static_cast<size_t>(n));
  return n;
}

int limited_close(void* cookie) {
  running_command* r = static_cast<running_command*>(cookie);
  int rc = r->fd >= 0 ? close(r->fd) : 0;
  r->fd = -1;
  return rc;
}

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
/// What a command is handed besides its output pipe.
struct command_inputs {
  int in_fd = -1;              ///< standard input (-1: /dev/null)
  std::vector<int> files;      ///< become descriptors 3, 4, ...
  int dir_fd = -1;             ///< working directory (-1: the program's)
};

/// First descriptor number of the files handed to a command.
const int FIRST_FILE_FD = 3;

pid_t spawn_shell(const char* command, int out_fd, int err_fd, const command_inputs& in) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  if (err_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // Every source descriptor lies above the numbers handed out (the caller
  // made sure), so no dup2 overwrites one still to be copied.
  for (size_t i = 0; i < in.files.size(); ++i)
    posix_spawn_file_actions_adddup2(&actions, in.files[i], FIRST_FILE_FD + static_cast<int>(i));
  if (in.dir_fd >= 0) posix_spawn_file_actions_addfchdir_np(&actions, in.dir_fd);
  if (in.in_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, in.in_fd, STDIN_FILENO);
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
  // A group of its own, so that every process of the pipeline can be ended.
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                      POSIX_SPAWN_SETPGROUP);
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

/// A slot reading `fd` for `command` (the process `pid`, 0 for a replay),
/// its time and output bounds starting now.
void start_slot(running_command* slot, pid_t pid, int fd, const char* command, bool replayed) {
  slot->pid = pid;
  slot->fd = fd;
  slot->deadline_ms = now_ms() + time_limit_seconds * 1000LL;
  slot->bytes = 0;
  slot->bound = output_limit_bytes;
  slot->limit = COMMAND_COMPLETE;
  slot->at_line_start = true;
  slot->noted = false;
  slot->replayed = replayed;
  snprintf(slot->text, sizeof slot->text, "%s", command);
}

/// The output of `command` as a capture recorded it; a command without a
/// recording is absent: no output, and the shell's status for a command not
/// found. Nothing is run.
FILE* replay_command_stream(running_command* slot, const char* command) {
  int fd = -1, status = 0, limit = 0;
  if (!replay_command(command, &fd, &status, &limit)) {
    printd("command: no recording in the capture, treated as absent: %s\n", command);
    fd = -1;
    status = 127 << 8;
    limit = COMMAND_COMPLETE;
  }
  start_slot(slot, 0, fd, command, true);
  slot->capture_id = capture_command_begin(command);
  slot->replay_status = status;
  slot->replay_limit = static_cast<command_limit>(limit);
  cookie_io_functions_t io = {limited_read, nullptr, nullptr, limited_close};
  FILE* stream = fopencookie(slot, "r", io);
  if (!stream) {
    int err = errno;
    if (fd >= 0) close(fd);
    capture_command_end(slot->capture_id, status, limit);
    errno = err;
    return nullptr;
  }
  slot->stream = stream;
  return stream;
}

/// Starts `command` with what `in` hands it and registers the running
/// command; returns its output stream.
FILE* start_command(const char* command, const command_inputs& in) {
  if (!command) {
    errno = EINVAL;
    return nullptr;
  }
  running_command* slot = find_slot(nullptr);
  if (!slot) {
    errno = EMFILE;
    return nullptr;
  }
  if (replay_active()) return replay_command_stream(slot, command);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
  // A tool's error output never reaches the terminal (nor its escape
  // sequences): it goes to the debug log when there is one, else nowhere.
  // A command that wants it in the report says "2>&1".
  const char* log = debug_log_file_name();
  int err_fd = log ? open_regular_for_write_nofollow(log, O_APPEND) : -1;
  // A signal that ends the run finds the command registered or not started.
  temp_files_hold_signals hold;
  pid_t pid = spawn_shell(command, fds[1], err_fd, in);
  int err = errno;
  close(fds[1]);
  if (err_fd >= 0) close(err_fd);
  if (pid < 0) {
    close(fds[0]);
    errno = err;
    return nullptr;
  }
  start_slot(slot, pid, fds[0], command, false);
  cookie_io_functions_t io = {limited_read, nullptr, nullptr, limited_close};
  FILE* stream = fopencookie(slot, "r", io);
  slot->capture_id = stream ? capture_command_begin(command) : -1;
  if (!stream) {
    err = errno;
    close(fds[0]);
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    slot->pid = 0;
    errno = err;
    return nullptr;
  }
  slot->stream = stream;
  return stream;
}


/// Opens a platform file for a command to read: a node of `kinds` under the
/// root, not of the process file system, in blocking mode, its descriptor
/// number at least `lowest`. -1 with errno set otherwise.
int open_for_command(const char* platform_path, unsigned kinds, int lowest) {
  int fd = sys_open_kind(platform_path, O_RDONLY | O_NONBLOCK, kinds);
  if (fd < 0) {
    if (errno == ENODEV) errno = EINVAL;
    return -1;
  }
  const long PROC_FS_MAGIC = 0x9fa0;
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0 || static_cast<long>(fs.f_type) == PROC_FS_MAGIC) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  // The command reads it in blocking mode like any regular file.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (fd >= lowest) return fd;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, lowest);
  int err = errno;
  close(fd);
  errno = err;
  return high;
}

void close_all(const std::vector<int>& fds) {
  int err = errno;
  for (int fd : fds)
    if (fd >= 0) close(fd);
  errno = err;
}

}  // namespace

FILE* command_open(const char* command) { return start_command(command, command_inputs()); }

FILE* command_open_input(const char* command, const char* platform_path) {
  // A replay runs nothing: the recording stands for the command and its input.
  if (replay_active()) return start_command(command, command_inputs());
  command_inputs in;
  in.in_fd = open_for_command(platform_path, SYS_REGULAR, 0);
  if (in.in_fd < 0) return nullptr;
  FILE* stream = start_command(command, in);
  close_all({in.in_fd});
  return stream;
}

FILE* command_open_files(const char* command, const std::vector<std::string>& platform_paths,
                         unsigned kinds) {
  if (replay_active()) return start_command(command, command_inputs());
  command_inputs in;
  // Above every number handed out: the copies to 3, 4, ... in the child
  // then never overwrite a source still to be copied.
  int lowest = FIRST_FILE_FD + static_cast<int>(platform_paths.size());
  for (const std::string& path : platform_paths) {
    int fd = open_for_command(path.c_str(), kinds, lowest);
    if (fd < 0) {
      printd("command: not handed to a command: %s (%s)\n", path.c_str(), strerror(errno));
      close_all(in.files);
      return nullptr;
    }
    in.files.push_back(fd);
  }
  FILE* stream = start_command(command, in);
  close_all(in.files);
  return stream;
}

std::string command_file_arg(size_t index) {
  return platform_path::command_fd_dir + std::to_string(FIRST_FILE_FD + index);
}

FILE* command_open_in_dir(const char* command, const char* platform_dir) {
  // A replay runs nothing: the recording stands for the command and its input.
  if (replay_active()) return start_command(command, command_inputs());
  command_inputs in;
  in.dir_fd = sys_open_kind(platform_dir, O_RDONLY | O_DIRECTORY, SYS_DIRECTORY);
  if (in.dir_fd < 0) return nullptr;
  FILE* stream = start_command(command, in);
  close_all({in.dir_fd});
  return stream;
}

int command_close(FILE* stream) {
  running_command* slot = stream ? find_slot(stream) : nullptr;
  if (!slot) {
    errno = ECHILD;
    return -1;
  }
  if (slot->replayed) {
    fclose(stream);
    last_limit = slot->limit;
    if (slot->limit != COMMAND_COMPLETE && !slot->noted)
      command_report_limit(tool_of(slot->text).c_str(), slot->limit);
    capture_command_end(slot->capture_id, slot->replay_status, slot->limit);
    slot->stream = nullptr;
    slot->replayed = false;
    return slot->replay_status;
  }
  pid_t pid = slot->pid;
  // Closing the pipe first lets a command that is still writing end on SIGPIPE.
  fclose(stream);
  if (slot->limit != COMMAND_COMPLETE) kill(-pid, SIGKILL);
  int status = 0;
  pid_t r;
  useconds_t pause = 1000;
  for (;;) {
    r = waitpid(pid, &status, WNOHANG);
    if (r != 0 && !(r < 0 && errno == EINTR)) break;
    if (now_ms() >= slot->deadline_ms) {
      note_limit(slot, COMMAND_TIMED_OUT);
      kill(-pid, SIGKILL);
      do {
        r = waitpid(pid, &status, 0);
      } while (r < 0 && errno == EINTR);
      break;
    }
    usleep(pause);
    if (pause < 50000) pause *= 2;
  }
  // Nothing of the group may outlive the command (a background child that
  // let go of the pipe).
  kill(-pid, SIGKILL);
  last_limit = slot->limit;
  if (slot->limit != COMMAND_COMPLETE && !slot->noted)
    command_report_limit(tool_of(slot->text).c_str(), slot->limit);
  capture_command_end(slot->capture_id, r < 0 ? 0 : status, slot->limit);
  slot->stream = nullptr;
  slot->pid = 0;
  return r < 0 ? -1 : status;
}

void command_kill_running() {
  for (const running_command& r : running) {
    pid_t pid = r.pid;
    if (pid > 0) kill(-pid, SIGKILL);
  }
}

command_limit command_limit_hit(FILE* stream) {
  running_command* slot = stream ? find_slot(stream) : nullptr;
  return slot ? slot->limit : COMMAND_COMPLETE;
}

command_limit command_last_limit() { return last_limit; }

const char* command_limit_text(command_limit limit) {
  switch (limit) {
    case COMMAND_TIMED_OUT:
      return "timed out";
    case COMMAND_OUTPUT_CUT:
      return "output cut";
    default:
      return "";
  }
}

void command_set_time_limit(int seconds) { time_limit_seconds = seconds < 1 ? 1 : seconds; }
int command_time_limit() { return time_limit_seconds; }
void command_set_output_limit(long long bytes) { output_limit_bytes = bytes < 1 ? 1 : bytes; }
long long command_output_limit() { return output_limit_bytes; }

command_limit command_note_limit(FILE* report, FILE* stream, const char* tool) {
  command_limit limit = command_limit_hit(stream);
  if (limit == COMMAND_COMPLETE) return limit;
  find_slot(stream)->noted = true;
  if (!tool) tool = "command";
  printm("%s %s ", tool, command_limit_text(limit));
  if (report) write_status_table(report, {{tool, limit, time_limit_seconds, output_limit_bytes}});
  return limit;
}

command_limit command_take_limit(FILE* stream) {
  running_command* slot = stream ? find_slot(stream) : nullptr;
  if (!slot) return COMMAND_COMPLETE;
  slot->noted = true;
  return slot->limit;
}

void command_report_limit(const char* tool, command_limit limit) {
  if (limit == COMMAND_COMPLETE) return;
  if (!tool) tool = "command";
  printm("%s %s ", tool, command_limit_text(limit));
  if (pending.size() < PENDING_MAX) pending.push_back({tool, limit, time_limit_seconds, output_limit_bytes});
}

void command_write_pending(FILE* report) {
  if (pending.empty()) return;
  std::vector<pending_note> rows;
  rows.swap(pending);
  if (report) write_status_table(report, rows);
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
