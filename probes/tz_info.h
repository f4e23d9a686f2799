// tz_info.h - the current time in local time and GMT.
#pragma once

#include <cstdio>
#include <ctime>

#include "probe.h"

/// Writes the "Current Time" table for the instant `now`.
void TimeZoneInfo(FILE* report, time_t now);
/// Writes the "Current Time" table for the present instant.
void TimeZoneInfo(FILE* report);

/// "TIME ZONE" (and "Time Zone Info" for the ORNA profile): a section with
/// the current time table.
class timezone_probe : public legacy_probe {
 public:
  timezone_probe(const char* name, int customers);
  bool run(FILE* report) override;
};
