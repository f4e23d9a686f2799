// cpu.h - the processor that runs the program: vendor, family, model and
// four feature flags, from CPUID leaves 0 and 1; and one row per physical
// package from the answers of every logical CPU.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "probe.h"

/// Where CPUID answers come from: the instruction itself, or recorded
/// register values.
class cpuid_source {
 public:
  virtual ~cpuid_source() = default;
  /// Stores the four result registers of CPUID with EAX = leaf; true.
  virtual bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) = 0;
  /// The same with ECX = subleaf (leaves 4, 7, 0xB, 0xD, 0x1F, ...). By
  /// default the subleaf is not given.
  virtual bool cpuid_count(int32_t leaf, int32_t subleaf, int32_t& eax, int32_t& ebx, int32_t& ecx,
                           int32_t& edx) {
    (void)subleaf;
    return cpuid(leaf, eax, ebx, ecx, edx);
  }
  /// The logical CPUs this source answers for (at least 1).
  virtual int cpu_count() { return 1; }
  /// Makes the following calls answer for logical CPU `index` (0 to
  /// cpu_count() - 1); false when it cannot.
  virtual bool select_cpu(int index) { return index == 0; }
  /// Ends a walk over the CPUs (the process runs where it ran before).
  virtual void end_selection() {}
  /// The microcode revision the system states for logical CPU `index`; ""
  /// when it states none.
  virtual std::string microcode(int index) {
    (void)index;
    return "";
  }
};

/// The instruction on the processor the process runs on.
cpuid_source& native_cpuid();
/// The processor being reported: the recorded answers when a capture with
/// them is replayed, else the instruction (a capture records its answers).
cpuid_source& system_cpuid();

/// True when system_cpuid() describes the processor being reported: on the
/// running machine, or in a replay of a capture that recorded its answers.
bool system_cpuid_known();

/// The processor a system root's kernel list (/proc/cpuinfo) states: vendor,
/// family, model, stepping and flags of its first processor, answered as
/// CPUID leaves 0 and 1 (every other leaf answers zero).
class cpuinfo_cpuid : public cpuid_source {
 public:
  /// One line of the list; false once the first processor's lines have ended.
  bool feed(const std::string& line);
  /// True when the vendor and the family were stated.
  bool complete() const { return !vendor.empty() && family >= 0; }
  bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) override;

 private:
  std::string vendor;
  int family = -1, model = 0, stepping = 0, processors = 0;
  uint32_t features = 0;
};

/// Executes CPUID with EAX = leaf (ECX is not set first); always true.
bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx);

/// The fields of a leaf-1 processor signature.
struct cpu_signature {
  int stepping, model, family, type, extended_model, extended_family;
};
cpu_signature decode_cpu_signature(uint32_t eax);

/// One physical package as the processor describes itself.
struct cpu_package {
  unsigned id = 0;  ///< package number from the APIC ids
  char vendor_id[13] = {};
  char brand[49] = {};  ///< leaves 0x80000002-4, blanks at both ends trimmed
  unsigned family = 0, model = 0, stepping = 0;  ///< as the vendors display them
  std::string microcode;
  unsigned cores = 0, threads = 0;
};
/// The packages of every logical CPU the source answers for, by package id.
std::vector<cpu_package> cpu_list_packages(cpuid_source& source);
/// Writes the table "Processor Packages", one row per package.
void cpu_write_packages(FILE* report, cpuid_source& source);

/// Task "CPU Information".
class cpu_probe : public probe_task {
 public:
  /// Uses `source` for CPUID (the instruction when null).
  explicit cpu_probe(cpuid_source* source = nullptr);
  /// Writes the family table, the flag table and the package table; true.
  bool run(FILE* report) override;

  /// Names the vendor, family and model of a vendor id and signature. The
  /// names stay null for an unknown vendor id; a known vendor with a
  /// signature of no table row gets "Unknown" family and model. Returns
  /// "Unknown".
  static const char* get_display_strings(const char* vendor_id, int type, int family,
                                         int extended_family, int model, int extended_model,
                                         int stepping, const char** vendor_name,
                                         const char** family_name, const char** model_name);

 private:
  cpuid_source* source;
};
