// scsi_probe.h - the tables of the "SCSI Devices" group.
#pragma once

#include <cstdio>

#include "probe.h"

/// "SCSI PROBE": one row per device.
class scsi_table : public probe {
 public:
  explicit scsi_table(probe_group* group);
  /// True once a scan has found a device.
  bool test() override;
  bool run(FILE* report) override;
};

/// "OPTICAL PROBE": the abilities of each CD/DVD drive.
class optical_table : public probe {
 public:
  explicit optical_table(probe_group* group);
  /// True when a CD-ROM type device exists.
  bool test() override;
  bool run(FILE* report) override;

 protected:
  optical_table(probe_group* group, const char* name, int customers);
};

/// "OPTICAL PROBE 2": the abilities of all drives together, one column each.
class optical_table_uc2 : public optical_table {
 public:
  explicit optical_table_uc2(probe_group* group);
  bool run(FILE* report) override;
};
