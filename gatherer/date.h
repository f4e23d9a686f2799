// date.h - date and time values that keep the text as found and format it
// when it parsed.
//
// A value records the parsed fields, whether they form a valid date and time,
// and the last text given to the text parser. Writers show format() when the
// value is valid and altstring() otherwise.
#pragma once

#include <ctime>

/// Hint word of setDate(text, hint): a mode bit, a date order (bits 12..23)
/// and a time order (bits 0..11). A hint of 0 guesses the shape.
enum : unsigned int {
  DATE_HINT_DATE_THEN_TIME = 0x01000000u,  ///< date first; a time may follow after a blank
  DATE_HINT_TIME_THEN_DATE = 0x02000000u,  ///< time first; the date follows after a blank
  DATE_HINT_DATE_ONLY = 0x04000000u,
  DATE_HINT_TIME_ONLY = 0x08000000u,
  DATE_HINT_CIM_DATETIME = 0x40000000u,  ///< yyyymmddhhmmss.uuuuuu at fixed positions
  DATE_HINT_GUESSED = 0x80000000u,       ///< set by the guesser; no effect on parsing

  DATE_ORDER_MASK = 0x00fff000u,
  DATE_ORDER_DMY = 0x123000u,
  DATE_ORDER_DMYY = 0x124000u,
  DATE_ORDER_MDY = 0x213000u,
  DATE_ORDER_MDYY = 0x214000u,
  DATE_ORDER_YMD = 0x321000u,

  TIME_ORDER_MASK = 0x00000fffu,
  TIME_ORDER_HM = 0x120u,
  TIME_ORDER_HMS = 0x123u
};

/// A service-processor clock record: two-digit year, month, day, one unused
/// byte, hour, minute, second.
struct SP_CLOCK {
  unsigned char year;
  unsigned char month;
  unsigned char day;
  unsigned char unused;
  unsigned char hour;
  unsigned char minute;
  unsigned char second;
};

class gathered_datetime_base {
 public:
  unsigned int year;  ///< four digits; 0 when unknown
  unsigned int month;
  unsigned int day;
  unsigned int hour;
  unsigned int minute;
  unsigned int second;
  unsigned int microseconds;
  /// The local year that two-digit years are placed near; 0 means "this year",
  /// read from the clock when first needed.
  int current_year;
  bool valid;

  gathered_datetime_base();
  gathered_datetime_base(const gathered_datetime_base& other);
  gathered_datetime_base& operator=(const gathered_datetime_base& other);
  virtual ~gathered_datetime_base();

  /// The formatted value, in a buffer of the object overwritten by the next call.
  virtual const char* format() const = 0;

  /// From a broken-down local time; valid without further checks. Null is ignored.
  void setDate(const struct tm* t);
  /// From a clock record, placing the two-digit year within 80 years before
  /// and 20 years after the current year; valid without checks.
  void setDate(const SP_CLOCK& clock);
  /// Parses text in the shape the hint names (0: guessed). The text is kept as
  /// the alternative text whether or not it parsed.
  void setDate(const char* text, unsigned int hint);

  /// The last text given to the parser, or "" when none.
  const char* altstring() const;
  bool is_valid() const { return valid; }
  void set_current_year(int y) { current_year = y; }

 protected:
  mutable char text[32];

 private:
  char* alternative_text;

  void keep_text(const char* s);
  int windowed_year(int two_digit);
  void parse_cim(const char* s);
  void parse_date(const char* s, unsigned int hint);
  void parse_time(const char* s, unsigned int hint);
  void check_validity();
  void guess(const char* s);
};

/// Formats as "yyyy-mm-dd hh:mm:ss".
class gathered_datetime : public gathered_datetime_base {
 public:
  const char* format() const override;
};

/// Formats as "yyyy-mm-dd".
class gathered_date : public gathered_datetime_base {
 public:
  const char* format() const override;
};

/// Formats as "hh:mm:ss".
class gathered_time : public gathered_datetime_base {
 public:
  const char* format() const override;
};
