// memory_linux.cpp - reading the kernel's memory counts.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "debug.h"
#include "memory_probe.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

bool parse_meminfo(const char* line, const char* key, unsigned long long* out) {
  size_t n = strlen(key);
  if (strncmp(line, key, n) != 0) return false;
  // strtoull skips leading white space, takes 0x as hexadecimal and a leading
  // 0 as octal, and stops at the unit; a value beyond 64 bits saturates.
  *out = strtoull(line + n, nullptr, 0);
  printd("memory: found match %s %llu\n", key, *out);
  return true;
}

void mem_read_info(FILE* f, memory_handle_struct* mem) {
  struct {
    const char* key;
    unsigned long long memory_handle_struct::*count;
  } const keys[] = {{"MemTotal:", &memory_handle_struct::total},
                    {"MemFree:", &memory_handle_struct::free},
                    {"Buffers:", &memory_handle_struct::buffers},
                    {"Cached:", &memory_handle_struct::cached},
                    {"SwapTotal:", &memory_handle_struct::swap_total},
                    {"SwapFree:", &memory_handle_struct::swap_free}};
  std::string line;
  while (read_line(f, line, 1023)) {
    for (const auto& k : keys) parse_meminfo(line.c_str(), k.key, &(mem->*k.count));
  }
  printd("memory: end of %s\n", platform_path::proc_meminfo);
}

memory_handle_struct* mem_get_info() { return mem_get_info(nullptr); }

memory_handle_struct* mem_get_info(bool* readable) {
  memory_handle_struct* mem = new memory_handle_struct();
  if (readable) *readable = false;
  FILE* f = sys_fopen(platform_path::proc_meminfo, "r");
  if (!f) {
    print_error(platform_path::proc_meminfo, errno);
    return mem;
  }
  mem_read_info(f, mem);
  fclose(f);
  // A source that names no memory at all (empty, cut, not the kernel's
  // file) is as good as none.
  if (mem->total == 0) printd("memory: no MemTotal in %s\n", platform_path::proc_meminfo);
  if (readable) *readable = mem->total != 0;
  return mem;
}
