// cpu.h - the processor that runs the program: vendor, family, model and
// four feature flags, from CPUID leaves 0 and 1.
#pragma once

#include <cstdint>
#include <cstdio>

#include "probe.h"

/// Where CPUID answers come from: the instruction itself, or recorded
/// register values.
class cpuid_source {
 public:
  virtual ~cpuid_source() = default;
  /// Stores the four result registers of CPUID with EAX = leaf; true.
  virtual bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) = 0;
};

/// The instruction on the processor the process runs on.
cpuid_source& native_cpuid();

/// Executes CPUID with EAX = leaf (ECX is not set first); always true.
bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx);

/// The fields of a leaf-1 processor signature.
struct cpu_signature {
  int stepping, model, family, type, extended_model, extended_family;
};
cpu_signature decode_cpu_signature(uint32_t eax);

/// Task "CPU Information".
class cpu_probe : public probe_task {
 public:
  /// Uses `source` for CPUID (the instruction when null).
  explicit cpu_probe(cpuid_source* source = nullptr);
  /// Writes the family table and the flag table; true.
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
