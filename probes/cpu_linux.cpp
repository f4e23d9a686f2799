// cpu_linux.cpp - the CPUID instruction itself.
#include "cpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

class instruction_cpuid : public cpuid_source {
 public:
  bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) override {
    unsigned a = 0, b = 0, c = 0, d = 0;
#if defined(__i386__) || defined(__x86_64__)
    __cpuid(static_cast<unsigned>(leaf), a, b, c, d);
#else
    (void)leaf;
#endif
    eax = static_cast<int32_t>(a);
    ebx = static_cast<int32_t>(b);
    ecx = static_cast<int32_t>(c);
    edx = static_cast<int32_t>(d);
    return true;
  }
};

}  // namespace

cpuid_source& native_cpuid() {
  static instruction_cpuid source;
  return source;
}

bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) {
  return native_cpuid().cpuid(leaf, eax, ebx, ecx, edx);
}
