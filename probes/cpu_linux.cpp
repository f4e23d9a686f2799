// cpu_linux.cpp - the CPUID instruction itself, on each logical CPU the
// process may run on, and the microcode revisions the kernel states.
#include "cpu.h"

#include <sched.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "capture.h"
#include "cpuid_dump.h"
#include "debug.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

/// "microcode : 0x..." of each "processor : n" of the kernel's list; read
/// only on the live machine or from its capture (any other tree describes
/// another processor than the one answering CPUID).
std::map<int, std::string> kernel_microcode() {
  std::map<int, std::string> revisions;
  if (sysroot_is_set() && !replay_active()) return revisions;
  FILE* f = sys_fopen_bounded(platform_path::proc_cpuinfo, 16u << 20);
  if (!f) return revisions;
  int processor = -1;
  std::string line;
  while (read_line(f, line, 4096)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    std::string value = line.substr(colon + 1);
    while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.erase(0, 1);
    if (key == "processor") {
      processor = atoi(value.c_str());
    } else if (key == "microcode" && processor >= 0 && value.size() <= 18) {
      revisions[processor] = value;
    }
  }
  fclose(f);
  return revisions;
}

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

  bool cpuid_count(int32_t leaf, int32_t subleaf, int32_t& eax, int32_t& ebx, int32_t& ecx,
                   int32_t& edx) override {
    unsigned a = 0, b = 0, c = 0, d = 0;
#if defined(__i386__) || defined(__x86_64__)
    __cpuid_count(static_cast<unsigned>(leaf), static_cast<unsigned>(subleaf), a, b, c, d);
#else
    (void)leaf, (void)subleaf;
#endif
    eax = static_cast<int32_t>(a);
    ebx = static_cast<int32_t>(b);
    ecx = static_cast<int32_t>(c);
    edx = static_cast<int32_t>(d);
    return true;
  }

  /// The CPUs of the process's affinity mask, as the walk starts.
  int cpu_count() override {
    cpus.clear();
    have_mask = sched_getaffinity(0, sizeof original, &original) == 0;
    if (have_mask)
      for (int c = 0; c < CPU_SETSIZE; c++)
        if (CPU_ISSET(c, &original)) cpus.push_back(c);
    if (cpus.empty()) cpus.push_back(-1);  // only where the process runs
    microcode_of = kernel_microcode();
    return (int)cpus.size();
  }

  bool select_cpu(int index) override {
    if (index < 0 || index >= (int)cpus.size()) return false;
    if (cpus[index] < 0) return true;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpus[index], &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) {
      printd("cpu: cannot run on CPU %d\n", cpus[index]);
      return false;
    }
    return true;
  }

  void end_selection() override {
    if (have_mask) sched_setaffinity(0, sizeof original, &original);
  }

  std::string microcode(int index) override {
    if (index < 0 || index >= (int)cpus.size()) return "";
    auto it = microcode_of.find(cpus[index]);
    return it == microcode_of.end() ? "" : it->second;
  }

 private:
  std::vector<int> cpus;
  cpu_set_t original;
  bool have_mask = false;
  std::map<int, std::string> microcode_of;
};

/// The processor of a replayed capture: the CPUID answers it recorded, the
/// microcode revisions its kernel list states (logical CPUs in order).
class replayed_cpuid : public cpuid_dump {
 public:
  std::string microcode(int index) override {
    if (!have_microcode) microcode_of = kernel_microcode();
    have_microcode = true;
    auto it = microcode_of.find(index);
    return it == microcode_of.end() ? "" : it->second;
  }

 private:
  bool have_microcode = false;
  std::map<int, std::string> microcode_of;
};

const char* const CPUID_RECORD = "cpuid";
const size_t CPUID_RECORD_LIMIT = 4u << 20;

/// The recorded answers of a replayed capture; null when it has none.
cpuid_source* replayed_processor() {
  static replayed_cpuid dump;
  static int cpus = -1;
  if (cpus < 0) {
    std::string text, path = replay_record_path(CPUID_RECORD);
    if (FILE* f = sys_fopen_bounded(path.c_str(), CPUID_RECORD_LIMIT)) {
      char buffer[65536];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
      fclose(f);
    }
    cpus = dump.parse(text.data(), text.size());
    printd("cpu: %d logical CPUs recorded in the capture\n", cpus);
  }
  return cpus > 0 ? &dump : nullptr;
}

/// A capture keeps the answers of every logical CPU, in the dump's text form.
void record_processor(cpuid_source& cpu) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  if (!out) return;
  write_cpuid_dump(out, cpu);
  fclose(out);
  capture_keep_record(CPUID_RECORD, std::string(text ? text : "", size));
  free(text);
}

}  // namespace

cpuid_source& native_cpuid() {
  static instruction_cpuid source;
  return source;
}

bool system_cpuid_known() { return !sysroot_is_set() || (replay_active() && replayed_processor()); }

cpuid_source& system_cpuid() {
  if (replay_active())
    if (cpuid_source* recorded = replayed_processor()) return *recorded;
  static bool recorded = false;
  if (capture_active() && !recorded) record_processor(native_cpuid());
  recorded = true;
  return native_cpuid();
}

bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) {
  return system_cpuid().cpuid(leaf, eax, ebx, ecx, edx);
}
