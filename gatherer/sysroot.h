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

/// The host path of an absolute platform path under the system root, for
/// display and for handing to outside commands; files are opened through the
/// sys_* helpers below, which keep links inside the root.
std::string sysroot_path(const char* platform_path);

/// open(2) of a platform path under the system root. Under a root other than
/// "/", the path (and every link on the way) is resolved inside the root: an
/// absolute link starts again at the root and ".." stops there. The open
/// itself never blocks: a FIFO or socket is refused with EINVAL; a device
/// (dev/mem, dev/sg*) or regular file is returned in blocking mode unless
/// `flags` asks for O_NONBLOCK.
int sys_open(const char* platform_path, int flags, mode_t mode = 0);
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
