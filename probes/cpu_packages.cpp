// cpu_packages.cpp - the table "Processor Packages": one row per physical
// package, from the CPUID answers of every logical CPU.
//
// Each logical CPU gives its APIC id and the widths of its thread and core
// fields; the package is the id shifted past both, the core the id shifted
// past the thread field. The widths come from the topology leaves 0x1F or
// 0xB where the processor has them, else from AMD's 0x8000001E and
// 0x80000008, else from the counts of leaves 1 and 4.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "cpu.h"
#include "table.h"

namespace {

struct logical_cpu {
  uint32_t apic = 0;
  unsigned thread_bits = 0, package_bits = 0;
};

unsigned bits_for(uint32_t count) {
  unsigned bits = 0;
  while (bits < 32 && (1ull << bits) < count) bits++;
  return bits;
}

struct regs {
  uint32_t a = 0, b = 0, c = 0, d = 0;
};

regs ask(cpuid_source& cpu, uint32_t leaf, uint32_t subleaf = 0) {
  int32_t a, b, c, d;
  cpu.cpuid_count((int32_t)leaf, (int32_t)subleaf, a, b, c, d);
  regs r;
  r.a = (uint32_t)a, r.b = (uint32_t)b, r.c = (uint32_t)c, r.d = (uint32_t)d;
  return r;
}

/// The topology leaf 0x1F or 0xB: false when the processor has neither.
bool from_topology_leaf(cpuid_source& cpu, uint32_t max_leaf, logical_cpu* out) {
  for (uint32_t leaf : {0x1Fu, 0xBu}) {
    if (max_leaf < leaf) continue;
    regs first = ask(cpu, leaf, 0);
    if ((first.b & 0xFFFF) == 0 || ((first.c >> 8) & 0xFF) == 0) continue;
    out->apic = first.d;
    out->thread_bits = 0;
    out->package_bits = 0;
    for (uint32_t sl = 0; sl < 16; sl++) {
      regs r = ask(cpu, leaf, sl);
      unsigned type = (r.c >> 8) & 0xFF;
      if (type == 0) break;
      unsigned shift = r.a & 0x1F;
      if (type == 1) out->thread_bits = shift;
      out->package_bits = std::max(out->package_bits, shift);
    }
    return true;
  }
  return false;
}

logical_cpu describe(cpuid_source& cpu, bool amd, uint32_t max_leaf, uint32_t max_extended) {
  logical_cpu l;
  if (from_topology_leaf(cpu, max_leaf, &l)) return l;
  regs one = ask(cpu, 1);
  l.apic = one.b >> 24;
  const bool htt = (one.d >> 28) & 1;
  const uint32_t logical = htt ? std::max(1u, (one.b >> 16) & 0xFF) : 1u;
  if (amd) {
    if (max_extended >= 0x8000001E) {
      regs e = ask(cpu, 0x8000001E);
      l.apic = e.a;
      l.thread_bits = bits_for(((e.b >> 8) & 0xFF) + 1);
    }
    if (max_extended >= 0x80000008) {
      regs e = ask(cpu, 0x80000008);
      unsigned core_id_size = (e.c >> 12) & 0xF;
      l.package_bits = core_id_size ? core_id_size : bits_for((e.c & 0xFF) + 1);
    } else {
      l.package_bits = bits_for(logical);
    }
  } else {
    uint32_t cores = max_leaf >= 4 ? ((ask(cpu, 4, 0).a >> 26) & 0x3F) + 1 : 1;
    l.package_bits = bits_for(logical);
    l.thread_bits = logical > cores ? bits_for(logical / cores) : 0;
  }
  l.package_bits = std::max(l.package_bits, l.thread_bits);
  return l;
}

void trim_brand(char* brand) {
  size_t start = 0, len = strlen(brand);
  while (start < len && brand[start] == ' ') start++;
  while (len > start && brand[len - 1] == ' ') len--;
  memmove(brand, brand + start, len - start);
  brand[len - start] = '\0';
}

}  // namespace

std::vector<cpu_package> cpu_list_packages(cpuid_source& source) {
  struct found {
    cpu_package package;
    std::set<uint32_t> cores;
  };
  std::map<uint32_t, found> packages;
  const int count = std::max(1, source.cpu_count());
  for (int index = 0; index < count; index++) {
    if (!source.select_cpu(index)) continue;
    regs zero = ask(source, 0);
    char vendor[13] = {};
    memcpy(vendor, &zero.b, 4);
    memcpy(vendor + 4, &zero.d, 4);
    memcpy(vendor + 8, &zero.c, 4);
    const bool amd = strcmp(vendor, "AuthenticAMD") == 0 || strcmp(vendor, "HygonGenuine") == 0;
    const uint32_t max_leaf = zero.a;
    // A processor without extended leaves answers 0x80000000 with something
    // else: then there are none.
    uint32_t max_extended = ask(source, 0x80000000).a;
    if (max_extended < 0x80000000u || max_extended > 0x800000FFu) max_extended = 0;
    logical_cpu l = describe(source, amd, max_leaf, max_extended);
    const uint32_t package_id = l.package_bits >= 32 ? 0 : l.apic >> l.package_bits;
    const uint32_t core_id = l.thread_bits >= 32 ? 0 : l.apic >> l.thread_bits;

    found& f = packages[package_id];
    f.cores.insert(core_id);
    cpu_package& p = f.package;
    if (p.threads++ > 0) continue;
    // The first logical CPU of a package describes it.
    p.id = package_id;
    memcpy(p.vendor_id, vendor, sizeof vendor);
    regs one = ask(source, 1);
    const unsigned base_family = (one.a >> 8) & 0xF, base_model = (one.a >> 4) & 0xF;
    p.family = base_family == 0xF ? base_family + ((one.a >> 20) & 0xFF) : base_family;
    p.model = base_family == 0x6 || base_family == 0xF ? (((one.a >> 16) & 0xF) << 4) + base_model : base_model;
    p.stepping = one.a & 0xF;
    if (max_extended >= 0x80000004) {
      for (uint32_t i = 0; i < 3; i++) {
        regs r = ask(source, 0x80000002 + i);
        memcpy(p.brand + 16 * i, &r.a, 4);
        memcpy(p.brand + 16 * i + 4, &r.b, 4);
        memcpy(p.brand + 16 * i + 8, &r.c, 4);
        memcpy(p.brand + 16 * i + 12, &r.d, 4);
      }
      p.brand[48] = '\0';
      trim_brand(p.brand);
    }
    p.microcode = source.microcode(index);
  }
  source.end_selection();
  std::vector<cpu_package> list;
  for (auto& entry : packages) {
    entry.second.package.cores = (unsigned)entry.second.cores.size();
    list.push_back(entry.second.package);
  }
  return list;
}

void cpu_write_packages(FILE* report, cpuid_source& source) {
  std::vector<cpu_package> packages = cpu_list_packages(source);
  static const Column columns[] = {
      {"Package", INTEGER},           {"Vendor", ASCII_STRING, 12}, {"Brand", ASCII_STRING, 48},
      {"Family", INTEGER},            {"Model", INTEGER},           {"Stepping", INTEGER},
      {"Microcode", ASCII_STRING, 10}, {"Cores", INTEGER},          {"Threads", INTEGER},
      {"Threads per Core", INTEGER}};
  Table table(report, "Processor Packages", "PROCESSOR_PACKAGE");
  table.heading(columns);
  for (const cpu_package& p : packages) {
    char id[16];
    snprintf(id, sizeof id, "%u", p.id);
    // Texts from the processor are shown as printable ASCII only.
    char vendor[13], brand[49];
    const char* from[2] = {p.vendor_id, p.brand};
    char* to[2] = {vendor, brand};
    for (int k = 0; k < 2; k++) {
      size_t i = 0;
      for (; from[k][i]; i++) to[k][i] = from[k][i] >= 0x20 && from[k][i] < 0x7F ? from[k][i] : '.';
      to[k][i] = '\0';
    }
    table.write_row(id, (int)p.id, vendor, brand, (int)p.family, (int)p.model, (int)p.stepping,
                    p.microcode.c_str(), (int)p.cores, (int)p.threads,
                    (int)(p.cores ? std::max(1u, p.threads / p.cores) : 1u));
  }
}
