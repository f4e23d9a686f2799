// firmware_probe.h - the firmware table: system BIOS and embedded controller.
#pragma once

#include <cstdio>

#include "probe.h"

/// "Firmware Probe" of the group "Firmware Information".
class firmware_probe : public probe {
 public:
  explicit firmware_probe(probe_group* group);
  /// Writes the table whatever the sources give; always true.
  bool run(FILE* report) override;
};
