// clock.cpp - the one clock of the run.
#include "clock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

int state = -1;  ///< -1 unread, 0 live clock, 1 fixed
time_t fixed_at = 0;

/// SOURCE_DATE_EPOCH as a time, when it is digits only and fits time_t.
bool read_epoch(time_t* out) {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text || strlen(text) > 20) return false;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = strtoull(text, &end, 10);
  if (errno != 0 || *end) return false;
  time_t t = static_cast<time_t>(v);
  if (t < 0 || static_cast<unsigned long long>(t) != v) return false;
  *out = t;
  return true;
}

}  // namespace

time_t clock_now() {
  if (state < 0) state = read_epoch(&fixed_at) ? 1 : 0;
  return state == 1 ? fixed_at : time(nullptr);
}

bool clock_is_fixed() {
  clock_now();
  return state == 1;
}

void clock_reset() { state = -1; }

bool clock_local(time_t t, struct tm* out) { return out && localtime_r(&t, out) != nullptr; }

bool clock_utc(time_t t, struct tm* out) { return out && gmtime_r(&t, out) != nullptr; }
