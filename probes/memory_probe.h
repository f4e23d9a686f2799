// memory_probe.h - the kernel's view of physical memory and swap space.
#pragma once

#include <cstdio>

#include "probe.h"

/// Counts in kilobytes as the kernel reports them; 0 when absent.
struct memory_handle_struct {
  unsigned long long total;
  unsigned long long free;
  unsigned long long buffers;
  unsigned long long cached;
  unsigned long long swap_total;
  unsigned long long swap_free;
};

/// A new record filled from the kernel's memory file under the system root
/// (zeros when it cannot be read). The caller deletes it.
memory_handle_struct* mem_get_info();
/// The same; `readable` tells whether the source could be read and named a
/// memory total.
memory_handle_struct* mem_get_info(bool* readable);
/// Fills the record from meminfo text read from `f` (lines beyond 1023
/// characters are cut).
void mem_read_info(FILE* f, memory_handle_struct* mem);
/// When the line starts with `key` (colon included), stores the number after
/// it (automatic base) into out; true on a match.
bool parse_meminfo(const char* line, const char* key, unsigned long long* out);

// Counts in kilobytes. Free is free + buffers + page cache; used is the total
// less that, never below 0.
unsigned long long mem_get_total(const memory_handle_struct* mem);
unsigned long long mem_get_free(const memory_handle_struct* mem);
unsigned long long mem_get_used(const memory_handle_struct* mem);
unsigned long long mem_get_swap_total(const memory_handle_struct* mem);
unsigned long long mem_get_swap_free(const memory_handle_struct* mem);
unsigned long long mem_get_swap_used(const memory_handle_struct* mem);
// The same in bytes (a count too large for 64 bits of bytes saturates).
unsigned long long mem_get_total_bytes(const memory_handle_struct* mem);
unsigned long long mem_get_free_bytes(const memory_handle_struct* mem);
unsigned long long mem_get_used_bytes(const memory_handle_struct* mem);
unsigned long long mem_get_swap_total_bytes(const memory_handle_struct* mem);
unsigned long long mem_get_swap_free_bytes(const memory_handle_struct* mem);
unsigned long long mem_get_swap_used_bytes(const memory_handle_struct* mem);
/// Loads in percent: used / (total / 100), integer divisions; 0 when the
/// total is below 100 KB, at most 100.
unsigned mem_get_memory_load(const memory_handle_struct* mem);
unsigned mem_get_swap_load(const memory_handle_struct* mem);
// Text forms into the caller's buffer; each returns the buffer.
char* mem_get_total(const memory_handle_struct* mem, char* buf, int size);
char* mem_get_free(const memory_handle_struct* mem, char* buf, int size);
char* mem_get_used(const memory_handle_struct* mem, char* buf, int size);
char* mem_get_swap_total(const memory_handle_struct* mem, char* buf, int size);
char* mem_get_swap_free(const memory_handle_struct* mem, char* buf, int size);
char* mem_get_swap_used(const memory_handle_struct* mem, char* buf, int size);
char* mem_get_memory_load(const memory_handle_struct* mem, char* buf, int size);
char* mem_get_swap_load(const memory_handle_struct* mem, char* buf, int size);

/// "Memory Probe" of the group "MEMORY INFORMATION".
class memory_probe : public probe {
 public:
  memory_probe(probe_group* group, int platform, int customers);
  /// Writes the "Memory Statistics" table; true. False, with no table, when
  /// the kernel's counts cannot be read or name no memory.
  bool run(FILE* report) override;
};

/// The group "MEMORY INFORMATION": fails ("Failed" on the console) when
/// none of its members that ran found the memory counts.
class memory_group : public probe_group {
 public:
  memory_group();
  bool run(FILE* report) override;
};
