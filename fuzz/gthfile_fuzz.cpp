// gthfile_fuzz.cpp - the container reader, item checks, extraction and unstuffing on any bytes.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gthfile.h"

namespace {

struct Counter {
  uint64_t bytes = 0;
};

ssize_t CountWrite(void* cookie, const char*, size_t size) {
  static_cast<Counter*>(cookie)->bytes += size;
  return ssize_t(size);
}

// Reads every item of the open container, checking that no extraction gives
// more than its recorded size. Returns the number of items.
int Exercise(GatherFile& g) {
  for (int i = 0; i < g.NumItems(); i++) {
    gth_item_header h;
    if (g.GetItemHeader(i, &h) != 0) continue;
    g.VerifyItem(i);
    Counter c;
    cookie_io_functions_t io = {nullptr, CountWrite, nullptr, nullptr};
    FILE* out = fopencookie(&c, "w", io);
    g.ExtractItemTo(i, out);
    fclose(out);
    if (c.bytes > h.orig_size) abort();
  }
  return g.NumItems();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = "/tmp/gthfile_fuzz_" + std::to_string(getpid()) + ".zv2";
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);

  GatherFile r;
  int rc = r.OpenReadOnly(path.c_str());
  int items = (rc == 0 || rc == GTH_E_READ) ? Exercise(r) : -1;
  r.CloseFile();

  GatherFile u;
  if (u.ReadFile(path.c_str()) == 0) {
    if (u.NumItems() != items) abort();  // both openings agree on a whole file
    Exercise(u);
  }
  u.CloseFile();

  // A plain container stuffed reads back with the same items (for one input
  // in eight: stuffing writes and syncs a whole new file).
  GatherFile s;
  if (rc == 0 && !r.WasStuffed() && size % 8 == 0 && s.RemoveNulls(path.c_str()) == 0) {
    if (s.OpenReadOnly(path.c_str()) != 0 || s.NumItems() != items) abort();
    Exercise(s);
  }
  unlink(path.c_str());
  return 0;
}
