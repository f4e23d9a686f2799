// filescan_probe.h - the "FILESCAN" task: a search of directory trees for
// files by name and permission bits, reported with times, size and owners.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

/// The parameters of one scan, as the user gave them (an absent text is
/// distinguished from an empty one).
struct filescan_parameters {
  struct text {
    bool set = false;
    std::string value;
    const char* get() const { return set ? value.c_str() : nullptr; }
  };
  text path, filter, ignore, mask, check, version;
  bool date = true;
  bool size = true;
};

class filescan_probe : public legacy_probe {
 public:
  filescan_probe();
  /// Runs the scan into a file of its own, stored in the container, or into
  /// the report in standard-output mode.
  bool run(FILE* report) override;
  /// True when path and filter are both set and non-empty.
  bool test() override;
  /// Stores a parameter (a copy of the value); messages on the console.
  bool set_parameter(const char* key, const char* value) override;

  const filescan_parameters& parameters() const { return params; }

 private:
  filescan_parameters params;
};

/// Reads an octal mask or check text; -1 when absent or unreadable.
int filescan_octal(const char* text);
/// Runs one scan and writes the section "FILESCAN"; true.
bool get_filescan_info(FILE* out, const filescan_parameters& params);
/// The table "VPD" that identifies the machine in the scan's own file.
void get_vpd(FILE* out);
