// summary.h - the "SYSTEM SUMMARY" probes: the report's first tables.
#pragma once

#include <cstdio>

#include "probe.h"

/// The summary of the default customer: identity table and OS table.
class sysinfo_probe : public probe {
 public:
  explicit sysinfo_probe(probe_group* group);
  bool run(FILE* report) override;
  void summary_table(FILE* report);
  void os_table(FILE* report);
};

/// The older one-table summary some customers still read.
class old_sysinfo_probe : public probe {
 public:
  explicit old_sysinfo_probe(probe_group* group);
  bool run(FILE* report) override;
};
