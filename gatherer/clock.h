// clock.h - the one clock of the run.
//
// Every date and time the program writes (report dates, the time zone table,
// the container header, file-name macros, debug log stamps) comes from here.
// With SOURCE_DATE_EPOCH set to a whole number of seconds since 1970 (the
// reproducible-builds convention), the clock stands still at that instant,
// so two runs over the same data write the same bytes.
#pragma once

#include <ctime>

/// The current time, or the instant of SOURCE_DATE_EPOCH when that is set to
/// a valid number (read once, at the first call).
time_t clock_now();
/// True when SOURCE_DATE_EPOCH fixes the clock.
bool clock_is_fixed();
/// Re-reads SOURCE_DATE_EPOCH (for tests).
void clock_reset();
/// Broken-down local time of `t`; false when it cannot be converted.
bool clock_local(time_t t, struct tm* out);
/// Broken-down UTC of `t`; false when it cannot be converted.
bool clock_utc(time_t t, struct tm* out);
