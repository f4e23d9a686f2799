// cpuid_dump.h - CPUID answers recorded as text, one block per logical CPU,
// and a CPUID source that answers from them.
//
// The text form: a block starts at a line "------[ Logical CPU #n ]------"
// or "------[ CPUID Registers / Logical CPU #n ]------"; in it each line
// "CPUID LLLLLLLL: EAX-EBX-ECX-EDX" (hexadecimal) is one answer. A trailing
// "[SL nn]" gives the subleaf (hexadecimal); without one, repeated lines of a
// leaf are subleaves 0, 1, 2, ... in the order listed. Any other line, and
// every line outside a block (other sections of a report, "allcpu:" lines,
// bracketed notes), is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "cpu.h"

/// The four registers of one answer.
struct cpuid_regs {
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

class cpuid_dump : public cpuid_source {
 public:
  /// Reads the text form; returns the number of logical CPUs found (0 when
  /// the text holds no block with an answer).
  int parse(const char* text, size_t size);
  /// Reads a file of the text form (at most `limit` bytes).
  int load(const char* path, size_t limit = 4u << 20);

  bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) override;
  bool cpuid_count(int32_t leaf, int32_t subleaf, int32_t& eax, int32_t& ebx, int32_t& ecx,
                   int32_t& edx) override;
  int cpu_count() override { return (int)cpus.size(); }
  bool select_cpu(int index) override;

  /// The answer of a logical CPU (block order); zeros for one not listed.
  cpuid_regs answer(int cpu, uint32_t leaf, uint32_t subleaf) const;

 private:
  typedef std::map<std::pair<uint32_t, uint32_t>, cpuid_regs> block;
  std::vector<block> cpus;
  int selected = 0;
};

/// Writes the answers of every logical CPU of `source` in the text form
/// (the second block heading, "[SL nn]" on leaves with subleaves).
void write_cpuid_dump(FILE* out, cpuid_source& source);
