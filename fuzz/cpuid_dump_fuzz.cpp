// cpuid_dump_fuzz.cpp - the reader of recorded CPUID answers and the package
// table made from them, on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cpuid_dump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cpuid_dump dump;
  int cpus = dump.parse(reinterpret_cast<const char*>(data), size);
  if (cpus < 0 || (size_t)cpus > size / 16 + 1) abort();
  unsigned threads = 0;
  for (const cpu_package& p : cpu_list_packages(dump)) {
    if (p.cores == 0 || p.cores > p.threads || strlen(p.brand) > 48 || strlen(p.vendor_id) > 12) abort();
    threads += p.threads;
  }
  if (cpus > 0 && threads != (unsigned)cpus) abort();
  // What is written reads back as the same number of CPUs.
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (!out) return 0;
  write_cpuid_dump(out, dump);
  fclose(out);
  cpuid_dump again;
  if (again.parse(text, length) != cpus) abort();
  free(text);
  FILE* report = fopen("/dev/null", "w");
  if (report) {
    cpu_write_packages(report, dump);
    fclose(report);
  }
  return 0;
}
