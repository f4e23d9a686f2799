// memory_probe.cpp - the "Memory Statistics" table: physical memory and swap
// as totals, free and used amounts, in readable units and in bytes.
#include "memory_probe.h"

#include <cstdint>
#include <memory>

#include "table.h"
#include "xml.h"
#include "util_capacity.h"
#include "util_string.h"

namespace {

unsigned long long saturating_add(unsigned long long a, unsigned long long b) {
  unsigned long long sum;
  return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

unsigned long long kb_to_bytes(unsigned long long kb) { return kb > (UINT64_MAX >> 10) ? UINT64_MAX : kb << 10; }

// used / (total / 100), both divisions truncating. Below 100 KB the divisor
// would be 0: such a total has no meaningful load, so 0. A tiny total can
// give more than 100 through the truncation: cut to 100.
unsigned load_of(unsigned long long used, unsigned long long total) {
  unsigned long long hundredth = total / 100;
  if (hundredth == 0) return 0;
  unsigned long long load = used / hundredth;
  return load > 100 ? 100u : static_cast<unsigned>(load);
}

char* size_text(unsigned long long kb, char* buf, int size) { return calculate_memory_size(kb, 1024, buf, size); }

}  // namespace

unsigned long long mem_get_total(const memory_handle_struct* mem) { return mem->total; }
unsigned long long mem_get_free(const memory_handle_struct* mem) {
  return saturating_add(saturating_add(mem->free, mem->buffers), mem->cached);
}
unsigned long long mem_get_used(const memory_handle_struct* mem) {
  unsigned long long free_sum = mem_get_free(mem);
  return free_sum > mem->total ? 0 : mem->total - free_sum;
}
unsigned long long mem_get_swap_total(const memory_handle_struct* mem) { return mem->swap_total; }
unsigned long long mem_get_swap_free(const memory_handle_struct* mem) { return mem->swap_free; }
unsigned long long mem_get_swap_used(const memory_handle_struct* mem) {
  return mem->swap_free > mem->swap_total ? 0 : mem->swap_total - mem->swap_free;
}

unsigned long long mem_get_total_bytes(const memory_handle_struct* mem) { return kb_to_bytes(mem_get_total(mem)); }
unsigned long long mem_get_free_bytes(const memory_handle_struct* mem) { return kb_to_bytes(mem_get_free(mem)); }
unsigned long long mem_get_used_bytes(const memory_handle_struct* mem) { return kb_to_bytes(mem_get_used(mem)); }
unsigned long long mem_get_swap_total_bytes(const memory_handle_struct* mem) {
  return kb_to_bytes(mem_get_swap_total(mem));
}
unsigned long long mem_get_swap_free_bytes(const memory_handle_struct* mem) {
  return kb_to_bytes(mem_get_swap_free(mem));
}
unsigned long long mem_get_swap_used_bytes(const memory_handle_struct* mem) {
  return kb_to_bytes(mem_get_swap_used(mem));
}

unsigned mem_get_memory_load(const memory_handle_struct* mem) { return load_of(mem_get_used(mem), mem->total); }
unsigned mem_get_swap_load(const memory_handle_struct* mem) {
  return mem->swap_total == 0 ? 0 : load_of(mem_get_swap_used(mem), mem->swap_total);
}

char* mem_get_total(const memory_handle_struct* mem, char* buf, int size) {
  return size_text(mem_get_total(mem), buf, size);
}
char* mem_get_free(const memory_handle_struct* mem, char* buf, int size) {
  return size_text(mem_get_free(mem), buf, size);
}
char* mem_get_used(const memory_handle_struct* mem, char* buf, int size) {
  return size_text(mem_get_used(mem), buf, size);
}
char* mem_get_swap_total(const memory_handle_struct* mem, char* buf, int size) {
  return size_text(mem_get_swap_total(mem), buf, size);
}
char* mem_get_swap_free(const memory_handle_struct* mem, char* buf, int size) {
  return size_text(mem_get_swap_free(mem), buf, size);
}
char* mem_get_swap_used(const memory_handle_struct* mem, char* buf, int size) {
  return size_text(mem_get_swap_used(mem), buf, size);
}
char* mem_get_memory_load(const memory_handle_struct* mem, char* buf, int size) {
  return format_string(buf, size, "%u%%", mem_get_memory_load(mem));
}
char* mem_get_swap_load(const memory_handle_struct* mem, char* buf, int size) {
  return format_string(buf, size, "%u%%", mem_get_swap_load(mem));
}

memory_probe::memory_probe(probe_group* group, int probe_platform, int probe_customers)
    : probe(group, "Memory Probe", 2, probe_platform) {
  customers = probe_customers;
}

memory_group::memory_group() : probe_group("MEMORY INFORMATION", 16, "MEMORY INFORMATION") {
  fail_text = "Failed";
}

bool memory_group::run(FILE* report) {
  if (title) start_section(report, title);
  bool ran = false, ok = false;
  for (probe* p = first_probe; p; p = p->get_next()) {
    if (!p->is_valid() || !p->test()) continue;
    ran = true;
    if (p->run(report)) ok = true;
  }
  if (title) end_section(report);
  return ok || !ran;
}

bool memory_probe::run(FILE* report) {
  bool readable = false;
  std::unique_ptr<memory_handle_struct> mem(mem_get_info(&readable));
  if (!readable) return false;
  static const Column columns[] = {
      {"Type", ASCII_STRING, 6},          {"Load", ASCII_STRING, 4},  {"Total", ASCII_STRING, 16},
      {"Total (bytes)", ASCII_STRING, 20}, {"Free", ASCII_STRING, 16}, {"Free (bytes)", ASCII_STRING, 20},
      {"Used", ASCII_STRING, 16},          {"Used (bytes)", ASCII_STRING, 20}};
  Table table(report, "Memory Statistics");
  table.heading(columns);

  typedef char* (*text_of)(const memory_handle_struct*, char*, int);
  typedef unsigned long long (*bytes_of)(const memory_handle_struct*);
  static const struct {
    const char* id;
    const char* type;
    text_of load;
    text_of amount[3];
    bytes_of bytes[3];
  } rows[] = {
      {"PHYSICAL_MEMORY", "Memory", mem_get_memory_load, {mem_get_total, mem_get_free, mem_get_used},
       {mem_get_total_bytes, mem_get_free_bytes, mem_get_used_bytes}},
      {"PAGEFILE", "Swap", mem_get_swap_load, {mem_get_swap_total, mem_get_swap_free, mem_get_swap_used},
       {mem_get_swap_total_bytes, mem_get_swap_free_bytes, mem_get_swap_used_bytes}},
  };
  char text[80];
  for (const auto& r : rows) {
    table.start_row(r.id);
    table.log_data(r.type);
    table.log_data(r.load(mem.get(), text, sizeof text));
    for (int k = 0; k < 3; ++k) {
      table.log_data(r.amount[k](mem.get(), text, sizeof text));
      table.log_data(format_string(text, sizeof text, "%llu", r.bytes[k](mem.get())));
    }
    table.end_row();
  }
  return true;
}
