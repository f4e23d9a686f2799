// util_capacity.cpp - human-readable sizes of disks, file systems and memory.
#include "util_capacity.h"

#include <cstdint>
#include <cstdio>

#include "debug.h"

namespace {

// a x b, or 0 when the product does not fit 64 bits (such a unit is larger
// than any size and is never chosen).
uint64_t checked_product(uint64_t a, uint64_t b) {
  uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? 0 : product;
}

}  // namespace

char* calculate_storage_capacity(unsigned count, unsigned unit_size, char* out, int size,
                                 unsigned unit) {
  return calculate_storage_capacity64(count, unit_size, out, size, unit);
}

char* calculate_storage_capacity64(unsigned long long count, unsigned unit_size, char* out, int size,
                                   unsigned unit) {
  uint64_t c;
  if (__builtin_mul_overflow(static_cast<uint64_t>(count), static_cast<uint64_t>(unit_size), &c)) c = UINT64_MAX;
  printd("capacity:\tc = %llu\n", static_cast<unsigned long long>(c));
  if (!out || size <= 0) return out;
  out[0] = '\0';
  uint64_t base = unit ? unit : 1000;
  uint64_t units[4];
  units[0] = base;  // KB
  for (int i = 1; i < 4; ++i) units[i] = units[i - 1] ? checked_product(units[i - 1], base) : 0;
  static const char* const names[4] = {"KB", "MB", "GB", "TB"};
  for (int i = 3; i >= 0; --i) {
    uint64_t u = units[i];
    if (u == 0 || u > c) continue;
    // Whole units and one decimal cut, computed exactly (dividing by a tenth
    // of a unit that is not a multiple of ten would inflate the figure).
    uint64_t whole = c / u;
    uint64_t rest = c % u;
    uint64_t tenth = rest <= UINT64_MAX / 10 ? rest * 10 / u : rest / (u / 10);
    if (tenth > 9) tenth = 9;
    snprintf(out, static_cast<size_t>(size), "%llu.%llu %s", static_cast<unsigned long long>(whole),
             static_cast<unsigned long long>(tenth), names[i]);
    return out;
  }
  snprintf(out, static_cast<size_t>(size), "%llu bytes", static_cast<unsigned long long>(c));
  return out;
}

char* calculate_memory_size(unsigned long long count, unsigned long long unit_size, char* out,
                            int size) {
  unsigned long long c;
  if (__builtin_mul_overflow(count, unit_size, &c)) c = UINT64_MAX;
  printd("capacity: c = %llu bytes\n", c);
  if (!out || size <= 0) return out;
  const unsigned long long TB = 1ULL << 40, GB = 1ULL << 30, MB = 1ULL << 20, KB = 1ULL << 10;
  unsigned long long whole;
  const char* name;
  if (c >= GB) {
    unsigned long long u = c >= TB ? TB : GB;
    name = c >= TB ? "TB" : "GB";
    whole = c / u;
    unsigned long long thousandths = (1000 * (c % u)) / u;
    unsigned long long hundredths = (thousandths + 5) / 10;
    if (hundredths >= 100) {
      ++whole;
      hundredths = 0;
    }
    snprintf(out, static_cast<size_t>(size), "%llu.%02llu %s", whole, hundredths, name);
    return out;
  }
  if (c >= MB) {
    whole = c / MB;
    name = "MB";
  } else if (c > 1023) {
    whole = c / KB;
    name = "KB";
  } else {
    whole = c;
    name = "bytes";
  }
  snprintf(out, static_cast<size_t>(size), "%llu %s", whole, name);
  return out;
}
