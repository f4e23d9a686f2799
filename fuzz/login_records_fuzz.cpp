// login_records_fuzz.cpp - arbitrary bytes as the login records file under a
// temporary system root: the current user found there must fit the caller's
// buffer and never be longer than a record's user field.
#include <sys/stat.h>
#include <unistd.h>
#include <utmp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

namespace {

std::string root;
std::string records;

void make_root() {
  char shm[] = "/dev/shm/zvloginfuzzXXXXXX";
  char tmp[] = "/tmp/zvloginfuzzXXXXXX";
  const char* dir = mkdtemp(shm);
  if (!dir) dir = mkdtemp(tmp);
  if (!dir) abort();
  root = dir;
  for (const char* sub : {"/var", "/var/run"})
    if (mkdir((root + sub).c_str(), 0700) != 0) abort();
  sysroot_set(root.c_str());
  records = root + platform_path::utmp;
}

void remove_root() {
  unlink(records.c_str());
  for (const char* sub : {"/var/run", "/var", ""}) rmdir((root + sub).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  make_root();
  atexit(remove_root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = fopen(records.c_str(), "wb");
  if (!f) abort();
  if (size) fwrite(data, 1, size, f);
  fclose(f);

  const size_t user_field = sizeof(static_cast<struct utmp*>(nullptr)->ut_user);
  std::string full;
  for (unsigned long out_size : {1ul, 2ul, 8ul, 33ul, 256ul}) {
    // Exactly sized on the heap, so a write past the end is caught.
    char* out = new char[out_size];
    memset(out, 'x', out_size);
    if (get_current_user(out, out_size) != out) abort();
    size_t n = strnlen(out, out_size);
    if (n >= out_size || n > user_field) abort();
    if (out_size == 256) full = out;
    delete[] out;
  }
  // A short buffer holds the start of the same name.
  char small[8];
  get_current_user(small, sizeof small);
  if (full.compare(0, strlen(small), small) != 0) abort();
  return 0;
}
