// gthfile_fuzz.cpp - the container reader, item checks, extraction and unstuffing on any bytes.
#include "fuzz_support.h"
#include "gthfile.h"

// Reads every item of the open container, checking that no extraction gives
// more than its recorded size. Returns the number of items.
static int Exercise(GatherFile& g) {
  for (int i = 0; i < g.NumItems(); i++) {
    gth_item_header h;
    if (g.GetItemHeader(i, &h) != 0) continue;
    g.VerifyItem(i);
    uint64_t bytes;
    FILE* out = counting_stream(&bytes);
    g.ExtractItemTo(i, out);
    fclose(out);
    if (bytes > h.orig_size) abort();
  }
  return g.NumItems();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = "/tmp/gthfile_fuzz_" + std::to_string(getpid()) + ".zv2";
  write_bytes(path, data, size);

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
