// meminfo_fuzz.cpp - the meminfo reader and the figures made from its counts
// on arbitrary text.
#include "fuzz_support.h"
#include "memory_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!f) return 0;
  memory_handle_struct mem = {};
  mem_read_info(f, &mem);
  fclose(f);
  if (mem_get_used(&mem) > mem.total || mem_get_swap_used(&mem) > mem.swap_total) abort();
  if (mem_get_memory_load(&mem) > 100 || mem_get_swap_load(&mem) > 100) abort();
  char text[80];
  typedef char* (*text_of)(const memory_handle_struct*, char*, int);
  const text_of texts[] = {mem_get_total,      mem_get_free,      mem_get_used,        mem_get_swap_total,
                           mem_get_swap_free,  mem_get_swap_used, mem_get_memory_load, mem_get_swap_load};
  for (text_of t : texts) check_fits(t(&mem, text, sizeof text), sizeof text);
  mem_get_used_bytes(&mem);
  mem_get_free_bytes(&mem);
  return 0;
}
