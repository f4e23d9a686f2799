// temp_files.cpp - the run's temporary files.
#include "temp_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

void (*temp_files_handover_hook)(const char* name) = nullptr;

namespace {

/// A run has a handful of temporaries at once (the report, one wrapped file,
/// the identification block, the coder's stream, the container being made).
constexpr int SLOTS = 16;
constexpr size_t NAME_SIZE = 4096;

struct slot {
  /// Set last when a slot is filled and cleared first when it is emptied,
  /// so a signal handler never sees a half-written name.
  volatile sig_atomic_t used;
  int fd;
  dev_t dev;
  ino_t ino;
  char name[NAME_SIZE];
};

slot slots[SLOTS];

slot* find(const char* name) {
  if (!name) return nullptr;
  for (slot& s : slots)
    if (s.used && strcmp(s.name, name) == 0) return &s;
  return nullptr;
}

}  // namespace

temp_files_hold_signals::temp_files_hold_signals() {
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  sigprocmask(SIG_BLOCK, &ending, &saved_);
}

temp_files_hold_signals::~temp_files_hold_signals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

bool temp_files_add(const char* name, int fd) {
  if (!name || strlen(name) >= NAME_SIZE) return false;
  temp_files_forget(name);
  for (slot& s : slots) {
    if (s.used) continue;
    memcpy(s.name, name, strlen(name) + 1);
    s.fd = -1;
    s.dev = 0;
    s.ino = 0;
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0) {
      s.dev = st.st_dev;
      s.ino = st.st_ino;
      s.fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    }
    s.used = 1;
    return true;
  }
  return false;
}

void temp_files_forget(const char* name) {
  slot* s = find(name);
  if (!s) return;
  s->used = 0;
  if (s->fd >= 0) close(s->fd);
  s->fd = -1;
}

bool temp_files_known(const char* name) { return find(name) != nullptr; }

FILE* temp_files_reopen(const char* name) {
  slot* s = find(name);
  if (!s || s->fd < 0) {
    errno = ENOENT;
    return nullptr;
  }
  // The copy shares the read position with the kept descriptor: the
  // writer is finished by now, and the stream starts at the beginning.
  int fd = fcntl(s->fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "rb");
  if (!f) {
    int saved = errno;
    close(fd);
    errno = saved;
    return nullptr;
  }
  if (fseeko(f, 0, SEEK_SET) != 0) {
    int saved = errno;
    fclose(f);
    errno = saved;
    return nullptr;
  }
  return f;
}

bool temp_files_name_is_ours(const char* name) {
  slot* s = find(name);
  struct stat st;
  if (!s || s->fd < 0 || lstat(name, &st) != 0) return false;
  return S_ISREG(st.st_mode) && st.st_dev == s->dev && st.st_ino == s->ino;
}

void temp_files_remove_all() {
  for (slot& s : slots)
    if (s.used) {
      unlink(s.name);
      s.used = 0;
    }
}
