// tz_info.cpp - the "Current Time" table: one instant as local time and as GMT.
#include "tz_info.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "capture.h"
#include "clock.h"
#include "date.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"
#include "xml.h"

namespace {

void time_row(Table& table, const char* location, const struct tm& t, bool daylight,
              const char* zone) {
  gathered_date date;
  gathered_time clock;
  date.setDate(&t);
  clock.setDate(&t);
  table.write_row(location, location, date, clock, daylight ? "Yes" : "No", zone);
}

/// Local time in the zone `zone` (the process's own zone again after it).
bool zone_local(time_t now, const std::string& zone, struct tm* out) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", zone.c_str(), 1);
  tzset();
  bool ok = localtime_r(&now, out) != nullptr;
  old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  return ok;
}

}  // namespace

void TimeZoneInfo(FILE* report, time_t now) {
  static const Column columns[] = {{"Location", STRING, 5}, {"Date", ASCII_STRING},     {"Time", ASCII_STRING},
                                   {"Daylight Saving", STRING}, {"Time Zone", STRING, 40}};
  Table table(report, "Current Time", "TIME");
  table.heading(columns);

  struct tm local_time = {}, gmt = {};
  // Under a system root, local time is the root's zone's, never this machine's.
  // (A capture keeps the zone's files for its replay.) A replay of the
  // running machine follows the zone its capture's run had, as that run did.
  std::string zone = replay_zone();
  if (zone.empty() && (sysroot_is_set() || capture_active())) zone = root_zone_name();
  if (sysroot_is_set() && zone.empty()) note_not_under_root("Local time");
  if (sysroot_is_set() ? !zone.empty() && zone_local(now, zone, &local_time) : clock_local(now, &local_time)) {
    char zone[64] = "";
    strftime(zone, sizeof zone, "%Z", &local_time);
    time_row(table, "Local", local_time, local_time.tm_isdst > 0, zone);
  }
  if (clock_utc(now, &gmt)) time_row(table, "GMT", gmt, false, "GMT");
}

void TimeZoneInfo(FILE* report) { TimeZoneInfo(report, clock_now()); }

timezone_probe::timezone_probe(const char* probe_name, int probe_customers)
    : legacy_probe(probe_name, 15) {
  detail = 2;
  platform = 0x2F71;
  customers = probe_customers;
}

bool timezone_probe::run(FILE* report) {
  start_section(report, name);
  TimeZoneInfo(report);
  end_section(report);
  return true;
}
