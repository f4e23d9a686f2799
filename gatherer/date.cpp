// date.cpp - date and time values: parsing of found texts by hint or by
// guessing, the two-digit clock year rule and the normalised formats.
#include "date.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "clock.h"
#include "debug.h"
#include "util_string.h"

namespace {

// A reader over a text with the conversions the date shapes need, each
// behaving like its scanf counterpart but with a defined result for numbers
// that overflow (they saturate) and no way to step past the terminator.
class text_scanner {
 public:
  explicit text_scanner(const char* s) : p(s) {}

  /// " " in a scanf format: any amount of white space, also none.
  void skip_space() {
    while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  }

  /// "%*c": any one character.
  bool skip_char() {
    if (!*p) return false;
    ++p;
    return true;
  }

  /// "%c".
  bool read_char(char& c) {
    if (!*p) return false;
    c = *p++;
    return true;
  }

  /// "%*s": white space, then a word of at least one character.
  bool skip_word() {
    skip_space();
    if (!*p) return false;
    while (*p && !isspace(static_cast<unsigned char>(*p))) ++p;
    return true;
  }

  /// "%u": white space, an optional sign, digits. A minus sign negates modulo
  /// 2^32 as the C library does.
  bool read_unsigned(unsigned int& value) {
    bool negative;
    unsigned long long magnitude;
    if (!read_number(negative, magnitude, UINT_MAX)) return false;
    unsigned int v = static_cast<unsigned int>(magnitude);
    value = negative ? 0u - v : v;
    return true;
  }

  /// "%d".
  bool read_int(int& value) {
    bool negative;
    unsigned long long magnitude;
    if (!read_number(negative, magnitude, static_cast<unsigned long long>(INT_MAX) + 1)) return false;
    if (negative)
      value = magnitude > static_cast<unsigned long long>(INT_MAX) ? INT_MIN : -static_cast<int>(magnitude);
    else
      value = magnitude > static_cast<unsigned long long>(INT_MAX) ? INT_MAX : static_cast<int>(magnitude);
    return true;
  }

 private:
  const char* p;

  bool read_number(bool& negative, unsigned long long& magnitude, unsigned long long limit) {
    skip_space();
    const char* q = p;
    negative = false;
    if (*q == '+' || *q == '-') negative = (*q++ == '-');
    if (!isdigit(static_cast<unsigned char>(*q))) return false;
    magnitude = 0;
    for (; isdigit(static_cast<unsigned char>(*q)); ++q) {
      magnitude = magnitude * 10 + static_cast<unsigned>(*q - '0');
      if (magnitude > limit) magnitude = limit;
    }
    p = q;
    return true;
  }
};

// Reads up to count numbers separated by any single characters ("%u%*c%u...")
// into fields in turn; a number that does not match ends the reading and
// leaves that field and the rest unchanged.
/// Reads up to `count` separated numbers; returns how many were read.
int read_separated(text_scanner& scan, unsigned int* const* fields, int count) {
  for (int i = 0; i < count; ++i) {
    if (i > 0 && !scan.skip_char()) return i;
    if (!scan.read_unsigned(*fields[i])) return i;
  }
  return count;
}

// "%d%c%d" of the guesser: returns how many items matched; the rest keep
// their values.
int read_int_char_int(const char* s, int& a, char& sep, int& b) {
  text_scanner scan(s);
  if (!scan.read_int(a)) return 0;
  if (!scan.read_char(sep)) return 1;
  if (!scan.read_int(b)) return 2;
  return 3;
}

int this_year() {
  struct tm local;
  if (!clock_local(clock_now(), &local)) return 2000;
  return local.tm_year + 1900;
}

}  // namespace

gathered_datetime_base::gathered_datetime_base()
    : year(0), month(0), day(0), hour(0), minute(0), second(0), microseconds(0), current_year(0),
      valid(false), text(), alternative_text(nullptr) {}

gathered_datetime_base::gathered_datetime_base(const gathered_datetime_base& other)
    : year(other.year), month(other.month), day(other.day), hour(other.hour), minute(other.minute),
      second(other.second), microseconds(other.microseconds), current_year(other.current_year),
      valid(other.valid), text(), alternative_text(duplicate_string(other.alternative_text)) {}

gathered_datetime_base& gathered_datetime_base::operator=(const gathered_datetime_base& other) {
  if (this == &other) return *this;
  year = other.year;
  month = other.month;
  day = other.day;
  hour = other.hour;
  minute = other.minute;
  second = other.second;
  microseconds = other.microseconds;
  current_year = other.current_year;
  valid = other.valid;
  keep_text(other.alternative_text);
  return *this;
}

gathered_datetime_base::~gathered_datetime_base() {
  delete[] alternative_text;
  alternative_text = nullptr;
  valid = false;
}

// Copies before freeing: s may be the text already kept.
void gathered_datetime_base::keep_text(const char* s) {
  char* copy = duplicate_string(s);
  delete[] alternative_text;
  alternative_text = copy;
}

const char* gathered_datetime_base::altstring() const {
  printd("date: alt_string = %p\n", static_cast<const void*>(alternative_text));
  return alternative_text ? alternative_text : "";
}

void gathered_datetime_base::setDate(const struct tm* t) {
  if (!t) return;
  year = static_cast<unsigned int>(t->tm_year + 1900);
  month = static_cast<unsigned int>(t->tm_mon + 1);
  day = static_cast<unsigned int>(t->tm_mday);
  hour = static_cast<unsigned int>(t->tm_hour);
  minute = static_cast<unsigned int>(t->tm_min);
  second = static_cast<unsigned int>(t->tm_sec);
  microseconds = 0;
  valid = true;
}

/// Places a two-digit year within 80 years before and 20 years after the
/// current year.
int gathered_datetime_base::windowed_year(int two_digit) {
  if (current_year == 0) current_year = this_year();
  int century = (current_year / 100) * 100;
  int cutoff = current_year - century + 20;
  printd("date: SP_CLOCK current year is %i, current century is %i\n", current_year, century);
  printd("date: SP_CLOCK year is %i, cutoff is %i\n", two_digit, cutoff);
  int y = two_digit < cutoff ? two_digit + century : two_digit + century - 100;
  if (y < 0) y = two_digit;
  printd("date: SP_CLOCK so year is %i\n", y);
  return y;
}

void gathered_datetime_base::setDate(const SP_CLOCK& clock) {
  year = static_cast<unsigned int>(windowed_year(clock.year));
  month = clock.month;
  day = clock.day;
  hour = clock.hour;
  minute = clock.minute;
  second = clock.second;
  valid = true;
}

// Fixed positions: yyyymmddhhmmss.uuuuuu. A piece that starts beyond the text
// or not with a digit leaves its field unchanged.
void gathered_datetime_base::parse_cim(const char* s) {
  printd("date: formatting from CIM_DATETIme\n");
  struct piece {
    size_t at, width;
    unsigned int* field;
  };
  const piece pieces[] = {{0, 4, &year},   {4, 2, &month},   {6, 2, &day},          {8, 2, &hour},
                          {10, 2, &minute}, {12, 2, &second}, {15, 6, &microseconds}};
  size_t len = strlen(s);
  for (const piece& pc : pieces) {
    if (pc.at >= len || !isdigit(static_cast<unsigned char>(s[pc.at]))) continue;
    unsigned int v = 0;
    for (size_t i = pc.at; i < pc.at + pc.width && i < len && isdigit(static_cast<unsigned char>(s[i])); ++i)
      v = v * 10 + static_cast<unsigned>(s[i] - '0');
    *pc.field = v;
  }
}

void gathered_datetime_base::parse_date(const char* s, unsigned int hint) {
  printd("date: parsing date\n");
  unsigned int* fields[3];
  switch (hint & DATE_ORDER_MASK) {
    case DATE_ORDER_DMY:
    case DATE_ORDER_DMYY:
      fields[0] = &day, fields[1] = &month, fields[2] = &year;
      break;
    case DATE_ORDER_MDY:
    case DATE_ORDER_MDYY:
      fields[0] = &month, fields[1] = &day, fields[2] = &year;
      break;
    case DATE_ORDER_YMD:
      fields[0] = &year, fields[1] = &month, fields[2] = &day;
      break;
    default:
      return;
  }
  text_scanner scan(s);
  if (!(hint & (DATE_HINT_DATE_THEN_TIME | DATE_HINT_DATE_ONLY))) {
    // The date follows the first word.
    if (!scan.skip_word()) return;
    scan.skip_space();
  }
  // A short year after day and month ("12/31/99" of a BIOS) is a year of the
  // clock's century window, never the year 99.
  if (read_separated(scan, fields, 3) == 3 && fields[2] == &year && year < 100)
    year = static_cast<unsigned int>(windowed_year(static_cast<int>(year)));
  printd("date: got date %d-%d-%d\n", static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
}

void gathered_datetime_base::parse_time(const char* s, unsigned int hint) {
  printd("date: parsing time\n");
  int count;
  switch (hint & TIME_ORDER_MASK) {
    case TIME_ORDER_HM:
      count = 2;
      break;
    case TIME_ORDER_HMS:
      count = 3;
      break;
    default:
      return;
  }
  unsigned int* const fields[3] = {&hour, &minute, &second};
  text_scanner scan(s);
  if (hint & DATE_HINT_DATE_THEN_TIME) {
    // The time follows the first word (the date).
    if (!scan.skip_word()) return;
    scan.skip_space();
  }
  read_separated(scan, fields, count);
  printd("date: got time %d:%d:%d\n", static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second));
}

// Days per month are not checked; an hour of 24 and a leap second pass.
void gathered_datetime_base::check_validity() {
  valid = year != 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 24 &&
          minute <= 60 && second <= 60;
}

void gathered_datetime_base::setDate(const char* s, unsigned int hint) {
  printd("date: setting date from \"%s\" (%p) hint %d\n", s ? s : "(null)", static_cast<const void*>(s),
         static_cast<int>(hint));
  if (!s || strlen(s) < 2) {
    valid = false;
    keep_text(s);
    return;
  }
  if (hint & DATE_HINT_CIM_DATETIME) {
    parse_cim(s);
    check_validity();
  } else if (hint == 0) {
    guess(s);  // stores the text itself
    return;
  } else {
    if (!(hint & DATE_HINT_TIME_ONLY)) parse_date(s, hint);
    if (!(hint & DATE_HINT_DATE_ONLY)) parse_time(s, hint);
    check_validity();
  }
  keep_text(s);
  printd("date: using altstring \"%s\" at %p\n", alternative_text, static_cast<void*>(alternative_text));
}

// Works out the shape of the text from its first separator, its blanks and
// its colons, then parses it again with the hint that shape gives.
void gathered_datetime_base::guess(const char* s) {
  printd("date: let's play \"guess the date\"\n");
  int a = 0, b = 0;
  char sep = '\0';
  read_int_char_int(s, a, sep, b);

  unsigned int mode;
  const char* date_part = s;
  bool has_date = true;
  const char* blank = strchr(s, ' ');
  if (sep == ':' && blank) {
    printd("guessing time and then date\n");
    mode = DATE_HINT_TIME_THEN_DATE;
    date_part = blank;
    while (*date_part == ' ') ++date_part;
  } else if (sep == ':') {
    printd("guessing time only\n");
    mode = DATE_HINT_TIME_ONLY;
    has_date = false;
  } else if (strchr(s, ':')) {
    printd("guessing date and then time\n");
    mode = DATE_HINT_DATE_THEN_TIME;
  } else {
    printd("guessing date only\n");
    mode = DATE_HINT_DATE_ONLY;
  }

  unsigned int hint = mode;
  if (has_date) {
    if (read_int_char_int(date_part, a, sep, b) < 2) {
      printd("guessing CIMTIME\n");
      hint = DATE_HINT_CIM_DATETIME;
    } else if (sep == ' ') {
      printd("giving up on date/time without separators\n");
      valid = false;
      keep_text(s);
      return;
    } else if (a > 32) {
      printd("guessing YYYYMMDD\n");
      hint |= DATE_ORDER_YMD;
    } else if (a > 12) {
      printd("guessing DDMMYYYY\n");
      hint |= DATE_ORDER_DMY;
    } else if (b > 12) {
      printd("guessing MMDDYYYY\n");
      hint |= DATE_ORDER_MDY;
    }
  }

  if (mode != DATE_HINT_DATE_ONLY) {
    if (strchr(s, ':') != strrchr(s, ':')) {
      printd("guessing HHMMSS\n");
      hint |= TIME_ORDER_HMS;
    } else if (strchr(s, ':')) {
      printd("guessing HHMM\n");
      hint |= TIME_ORDER_HM;
    }
  }
  setDate(s, hint | DATE_HINT_GUESSED);
}

const char* gathered_datetime::format() const {
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
  return text;
}

const char* gathered_date::format() const {
  snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
  return text;
}

const char* gathered_time::format() const {
  snprintf(text, sizeof text, "%02u:%02u:%02u", hour, minute, second);
  return text;
}
