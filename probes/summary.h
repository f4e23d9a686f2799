// summary.h - the "SYSTEM SUMMARY" probes: the report's first tables, the
// machine's identity and its operating system.
#pragma once

#include <cstdio>

#include "probe.h"

/// The summary of the default customer: the identity table, then the
/// operating system table.
class sysinfo_probe : public probe {
 public:
  explicit sysinfo_probe(probe_group* group);
  /// Writes both tables; always true.
  bool run(FILE* report) override;
  void summary_table(FILE* report);
  void os_table(FILE* report);
  void os_release_table(FILE* report);
};

/// The one-table summary with wider columns that some customers read.
class old_sysinfo_probe : public probe {
 public:
  explicit old_sysinfo_probe(probe_group* group);
  /// Writes the table; always true.
  bool run(FILE* report) override;
};
