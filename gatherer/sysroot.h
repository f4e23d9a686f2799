// sysroot.h - the one way to the machine's platform files.
//
// Every file of a platform interface (/proc, /sys, /etc, /boot, /var/log,
// /lib/modules, /dev/mem, /dev/sg*, the login records) is opened through these
// helpers, which prefix the system root. The default root is "/"; tests and
// support engineers point it at a captured tree with "-sysroot DIR". The path
// strings themselves live in platform_paths.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/types.h>

/// Sets the system root (a directory). Null or empty means "/".
void sysroot_set(const char* dir);
/// The system root without a trailing slash ("" for "/").
const char* sysroot_get();
/// True when a root other than "/" is set.
bool sysroot_is_set();
/// Resolves paths by the component walk even where the kernel could do it
/// (for tests of the walk).
void sysroot_force_walk(bool walk);
/// True while paths are resolved by the kernel (openat2) rather than walked.
bool sysroot_kernel_resolves();

/// The text of an absolute platform path under the system root, for messages
/// only. It is never opened, stat'ed or handed to a command: the kernel would
/// resolve its links on the live machine. Files are reached through the sys_*
/// helpers below, and a command is handed a descriptor (run_command.h).
std::string sysroot_display_path(const char* platform_path);

/// open(2) of a platform path under the system root. Under a root other than
/// "/", the path (and every link on the way) is resolved inside the root: an
/// absolute link starts again at the root and ".." stops there. The open
/// itself never blocks: a FIFO or socket is refused with EINVAL; a device
/// (dev/mem, dev/sg*) or regular file is returned in blocking mode unless
/// `flags` asks for O_NONBLOCK. Under a root other than "/" nothing is ever
/// written: write access, O_CREAT, O_TRUNC and O_APPEND fail with EROFS.
int sys_open(const char* platform_path, int flags, mode_t mode = 0);

/// Kinds of node for sys_open_kind, combined with "|".
enum sys_node_kind : unsigned {
  SYS_REGULAR = 1,
  SYS_DIRECTORY = 2,
  SYS_BLOCK_DEVICE = 4,
  SYS_CHAR_DEVICE = 8,
};
/// sys_open of a node of one of the `kinds` only; for a device, of the major
/// number `major` when it is not -1. The kind is checked before the node is
/// opened (a node of another kind is never opened, so a tape is not rewound
/// nor a terminal taken) and again on the open descriptor. Fails with ENODEV
/// for another kind. Read-write access is granted only for a character
/// device of a given major (a node that commands are sent to): under a root
/// every other write fails as with sys_open.
int sys_open_kind(const char* platform_path, int flags, unsigned kinds, int major = -1);
/// fopen(3) of a platform path under the system root. Only a regular file is
/// used, in any mode (a FIFO or device never blocks the run): anything else
/// fails with EINVAL.
FILE* sys_fopen(const char* platform_path, const char* mode);
/// sys_fopen for reading a text file (a release or configuration file) of
/// which at most `limit` bytes are read: past that the stream ends.
FILE* sys_fopen_bounded(const char* platform_path, uint64_t limit = 65536);
/// access(2) of a platform path under the system root.
int sys_access(const char* platform_path, int how);
/// stat(2) of a platform path under the system root.
int sys_stat(const char* platform_path, struct stat* st);
/// lstat(2) of a platform path under the system root (a final link is not followed).
int sys_lstat(const char* platform_path, struct stat* st);
/// opendir(3) of a platform directory under the system root; null with errno
/// set on failure. Close it with closedir.
DIR* sys_opendir(const char* platform_path);
/// readlink(2) of a platform path under the system root: the link's text as
/// stored (not resolved), or "" with errno set when it is not a readable link.
std::string sys_readlink(const char* platform_path);
