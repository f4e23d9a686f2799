// tz_info.cpp - the "Current Time" table: one instant as local time and as GMT.
#include "tz_info.h"

#include "clock.h"
#include "date.h"
#include "table.h"
#include "xml.h"

namespace {

void time_row(Table& table, const char* location, const struct tm& t, bool daylight,
              const char* zone) {
  gathered_date date;
  gathered_time clock;
  date.setDate(&t);
  clock.setDate(&t);
  table.start_row(location);
  table.log_data(location);
  table.log_data(date);
  table.log_data(clock);
  table.log_data(daylight ? "Yes" : "No");
  table.log_data(zone);
  table.end_row();
}

}  // namespace

void TimeZoneInfo(FILE* report, time_t now) {
  Table table(report, "Current Time", "TIME");
  table.start_heading();
  table.add_column("Location", STRING);
  table.set_column_width(0, 5);
  table.add_column("Date", ASCII_STRING);
  table.add_column("Time", ASCII_STRING);
  table.add_column("Daylight Saving", STRING);
  table.add_column("Time Zone", STRING);
  table.set_column_width(4, 40);
  table.end_heading();

  struct tm local_time = {}, gmt = {};
  if (clock_local(now, &local_time)) {
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
