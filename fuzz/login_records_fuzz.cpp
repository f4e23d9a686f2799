// login_records_fuzz.cpp - arbitrary bytes as the login records file under a
// temporary system root: the current user found there must fit the caller's
// buffer and never be longer than a record's user field.
#include <utmp.h>

#include "fuzz_support.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

static std::string records;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = make_temp_root("zvloginfuzz", {"/var", "/var/run"});
  sysroot_set(root.c_str());
  records = root + platform_path::utmp;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  write_bytes(records, data, size);

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
