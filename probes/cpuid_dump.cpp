// cpuid_dump.cpp - reading and writing CPUID answers in their text form.
#include "cpuid_dump.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "debug.h"
#include "safe_file.h"

namespace {

/// Blocks and subleaves beyond these are not kept: no processor has more,
/// and a hostile text cannot make the map grow without end.
const size_t MAX_CPUS = 4096;
const size_t MAX_ANSWERS = 1u << 20;

bool starts_with(const char* p, const char* end, const char* word) {
  size_t n = strlen(word);
  return (size_t)(end - p) >= n && memcmp(p, word, n) == 0;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Exactly eight hexadecimal digits at p.
bool hex8(const char* p, const char* end, uint32_t* out) {
  if (end - p < 8) return false;
  uint32_t v = 0;
  for (int i = 0; i < 8; i++) {
    int d = hex_value(p[i]);
    if (d < 0) return false;
    v = v << 4 | (uint32_t)d;
  }
  *out = v;
  return true;
}

/// A block heading: "------[ Logical CPU #n ]------" or the same with
/// "CPUID Registers / " before "Logical".
bool block_heading(const char* p, const char* end) {
  if (!starts_with(p, end, "------[ ")) return false;
  p += 8;
  if (starts_with(p, end, "CPUID Registers / ")) p += 18;
  if (!starts_with(p, end, "Logical CPU #")) return false;
  p += 13;
  const char* digits = p;
  while (p < end && *p >= '0' && *p <= '9') p++;
  return p > digits && starts_with(p, end, " ]------");
}

/// "[SL nn]" anywhere after the registers: the subleaf; -1 without.
long subleaf_note(const char* p, const char* end) {
  for (; p + 4 <= end; p++) {
    if (!starts_with(p, end, "[SL ")) continue;
    const char* q = p + 4;
    long v = 0;
    int digits = 0;
    for (; q < end && hex_value(*q) >= 0 && digits < 8; q++, digits++) v = v * 16 + hex_value(*q);
    if (digits > 0 && q < end && *q == ']') return v;
  }
  return -1;
}

}  // namespace

int cpuid_dump::parse(const char* text, size_t size) {
  cpus.clear();
  selected = 0;
  if (!text) return 0;
  bool in_block = false;
  size_t answers = 0;
  std::map<uint32_t, uint32_t> next_subleaf;  // leaves without "[SL nn]": the next subleaf
  const char* end_of_text = text + size;
  for (const char* line = text; line < end_of_text;) {
    const char* nl = (const char*)memchr(line, '\n', (size_t)(end_of_text - line));
    const char* end = nl ? nl : end_of_text;
    const char* next = nl ? nl + 1 : end_of_text;
    if (end > line && end[-1] == '\r') end--;
    if (starts_with(line, end, "------[")) {
      // Any other section ends the block (the MSR section of a report).
      in_block = block_heading(line, end) && cpus.size() < MAX_CPUS;
      if (in_block) {
        cpus.emplace_back();
        next_subleaf.clear();
      }
    } else if (in_block && starts_with(line, end, "CPUID ")) {
      const char* p = line + 6;
      uint32_t leaf, r[4];
      bool ok = hex8(p, end, &leaf) && p + 8 < end && p[8] == ':' && p + 9 < end && p[9] == ' ';
      p += 10;
      for (int i = 0; ok && i < 4; i++) {
        ok = hex8(p, end, &r[i]);
        p += 8;
        if (ok && i < 3) ok = p < end && *p++ == '-';
      }
      if (ok && answers < MAX_ANSWERS) {
        long sl = subleaf_note(p, end);
        uint32_t subleaf = sl >= 0 ? (uint32_t)sl : next_subleaf[leaf];
        next_subleaf[leaf] = subleaf + 1;
        cpuid_regs& regs = cpus.back()[std::make_pair(leaf, subleaf)];
        regs.eax = r[0], regs.ebx = r[1], regs.ecx = r[2], regs.edx = r[3];
        answers++;
      }
    }
    line = next;
  }
  // A heading with no answer under it is no CPU.
  size_t kept = 0;
  for (size_t i = 0; i < cpus.size(); i++) {
    if (cpus[i].empty()) continue;
    if (i != kept) cpus[kept] = std::move(cpus[i]);
    kept++;
  }
  cpus.resize(kept);
  return (int)cpus.size();
}

int cpuid_dump::load(const char* path, size_t limit) {
  std::string text;
  FILE* f = path ? open_regular_file(path, "rb") : nullptr;
  if (!f) {
    print_error(path ? path : "", path ? errno : EINVAL);
    return parse(nullptr, 0);
  }
  char buffer[65536];
  size_t n;
  while (text.size() < limit && (n = fread(buffer, 1, sizeof buffer, f)) > 0)
    text.append(buffer, std::min(n, limit - text.size()));
  fclose(f);
  return parse(text.data(), text.size());
}

cpuid_regs cpuid_dump::answer(int cpu, uint32_t leaf, uint32_t subleaf) const {
  if (cpu < 0 || cpu >= (int)cpus.size()) return cpuid_regs();
  auto it = cpus[cpu].find(std::make_pair(leaf, subleaf));
  return it == cpus[cpu].end() ? cpuid_regs() : it->second;
}

bool cpuid_dump::select_cpu(int index) {
  if (index < 0 || index >= (int)cpus.size()) return false;
  selected = index;
  return true;
}

bool cpuid_dump::cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) {
  return cpuid_count(leaf, 0, eax, ebx, ecx, edx);
}

bool cpuid_dump::cpuid_count(int32_t leaf, int32_t subleaf, int32_t& eax, int32_t& ebx, int32_t& ecx,
                             int32_t& edx) {
  cpuid_regs r = answer(selected, (uint32_t)leaf, (uint32_t)subleaf);
  eax = (int32_t)r.eax, ebx = (int32_t)r.ebx, ecx = (int32_t)r.ecx, edx = (int32_t)r.edx;
  return true;
}

void write_cpuid_dump(FILE* out, cpuid_source& source) {
  const int count = source.cpu_count();
  for (int cpu = 0; cpu < count; cpu++) {
    if (!source.select_cpu(cpu)) continue;
    fprintf(out, "------[ CPUID Registers / Logical CPU #%d ]------\n\n", cpu);
    for (uint32_t base : {0u, 0x80000000u}) {
      int32_t a, b, c, d;
      source.cpuid((int32_t)base, a, b, c, d);
      uint32_t last = (uint32_t)a;
      // A range that does not answer with its own kind of leaf has none.
      if (last < base || last - base > 0xFF) last = base;
      for (uint32_t leaf = base; leaf <= last; leaf++) {
        // Leaves with subleaves: the cache and topology enumerations end at
        // their empty entry, the others at a fixed count.
        const bool enumerated = leaf == 4 || leaf == 0xB || leaf == 0x1F || leaf == 0x8000001D;
        const uint32_t fixed = leaf == 7 || leaf == 0xD || leaf == 0xF || leaf == 0x10 || leaf == 0x12 ||
                                       leaf == 0x14 || leaf == 0x17 || leaf == 0x18
                                   ? (leaf == 0xD ? 64u : 4u)
                                   : 0u;
        const uint32_t subleaves = enumerated ? 64u : fixed ? fixed : 1u;
        for (uint32_t sl = 0; sl < subleaves; sl++) {
          source.cpuid_count((int32_t)leaf, (int32_t)sl, a, b, c, d);
          if (enumerated && sl > 0) {
            bool empty = leaf == 4 || leaf == 0x8000001D ? (a & 0x1F) == 0 : ((c >> 8) & 0xFF) == 0;
            if (empty) break;
          }
          if (leaf == 0xD && sl > 1 && a == 0 && b == 0 && c == 0 && d == 0) continue;
          fprintf(out, "CPUID %08X: %08X-%08X-%08X-%08X", leaf, (uint32_t)a, (uint32_t)b, (uint32_t)c,
                  (uint32_t)d);
          if (enumerated || fixed) fprintf(out, " [SL %02X]", sl);
          fputc('\n', out);
        }
      }
    }
    fputc('\n', out);
  }
  source.end_selection();
}
