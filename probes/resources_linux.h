// resources_linux.h - the hardware resources the kernel handed out: DMA
// channels, the I/O memory and port maps and the interrupt counters.
#pragma once

#include <cstdio>
#include <vector>

#include "probe.h"

/// One line of the DMA channel list ("4: cascade").
struct dma_entry {
  int channel;
  char name[64];
};
/// False when the line does not start with a channel number.
bool parse_dma_line(const char* line, dma_entry& out);

/// One line of the I/O memory or port map ("  0000-001f : dma1"); the
/// nesting indentation is dropped.
struct range_entry {
  char range[64];
  char description[64];
};
/// False for a line without ": " or with nothing after it.
bool parse_range_line(const char* line, range_entry& out);

/// The number of processors named by the heading line of the interrupt
/// counters (at least 1).
int count_interrupt_processors(const char* heading);

/// One line of the interrupt counters.
struct interrupt_entry {
  char name[64];                  ///< label or interrupt number; "" when none
  std::vector<long long> counts;  ///< one per processor, 0 when absent
  char type[32];
  char device[64];
};
/// Fills out for a line of `processors` counters; false when the line writes
/// no row (no number and no known label, or the MIS line).
bool parse_interrupt_line(const char* line, int processors, interrupt_entry& out);

/// The most processors given columns of their own in the IRQs table (the
/// table has 20 columns at most); the counts of further processors go to the
/// debug log.
const int MAX_INTERRUPT_CPU_COLUMNS = 17;

class dma_probe : public probe {
 public:
  explicit dma_probe(probe_group* group);
  bool test() override { return true; }
  bool run(FILE* report) override;
};

class iomem_probe : public probe {
 public:
  explicit iomem_probe(probe_group* group);
  bool test() override { return true; }
  bool run(FILE* report) override;
};

class ioports_probe : public probe {
 public:
  explicit ioports_probe(probe_group* group);
  bool test() override { return true; }
  bool run(FILE* report) override;
};

class interrupts_probe : public probe {
 public:
  explicit interrupts_probe(probe_group* group);
  bool test() override { return true; }
  bool run(FILE* report) override;
};
