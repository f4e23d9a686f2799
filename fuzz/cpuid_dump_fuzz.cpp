// cpuid_dump_fuzz.cpp - the reader of recorded CPUID answers and the package
// table made from them, on arbitrary text.
#include "cpuid_dump.h"
#include "fuzz_support.h"

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
  std::string text = written_text([&](FILE* out) { write_cpuid_dump(out, dump); });
  cpuid_dump again;
  if (again.parse(text.data(), text.size()) != cpus) abort();
  FILE* report = fopen("/dev/null", "w");
  if (report) {
    cpu_write_packages(report, dump);
    fclose(report);
  }
  return 0;
}
