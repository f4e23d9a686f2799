// temp_files.h - the run's temporary files: the names to clean up on any
// exit (also from a signal handler), and the descriptors they were created
// with, so a finished temporary is read back without opening it by name.
#pragma once

#include <signal.h>

#include <cstdio>

/// Remembers `name` (as the run uses it) as a temporary of this run. When
/// `fd` is a descriptor of the created file opened for reading too, a copy
/// is kept for temp_files_reopen. False when the table is full.
bool temp_files_add(const char* name, int fd);
/// Forgets `name` (it was removed or given a lasting name), closing its kept
/// descriptor.
void temp_files_forget(const char* name);
/// True when `name` is a remembered temporary.
bool temp_files_known(const char* name);
/// A new read stream, at the start, on the descriptor that created the
/// temporary `name`: whatever now lies at that name is not looked at. Null
/// with errno ENOENT when `name` is not a temporary with a kept descriptor.
FILE* temp_files_reopen(const char* name);
/// True when `name` still is the file the temporary was created as (same
/// device and inode, not a link).
bool temp_files_name_is_ours(const char* name);
/// Removes every remembered temporary. Only unlink(2) is used, so a signal
/// handler may call it; the descriptors stay until the process ends.
void temp_files_remove_all();

/// Holds off the signals that end a run (SIGINT, SIGTERM, SIGHUP) while it
/// lives: a file is created and remembered, or renamed and forgotten, as one
/// step, so a signal never leaves a temporary behind or removes a kept file.
class temp_files_hold_signals {
 public:
  temp_files_hold_signals();
  ~temp_files_hold_signals();
  temp_files_hold_signals(const temp_files_hold_signals&) = delete;
  temp_files_hold_signals& operator=(const temp_files_hold_signals&) = delete;

 private:
  sigset_t saved_;
};

/// Called, when set, just before a finished temporary is read back to be
/// added to the container (tests use it to swap the file in between).
extern void (*temp_files_handover_hook)(const char* name);
