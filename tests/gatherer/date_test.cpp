// date_test.cpp - date values: guessing, hinted parsing, clock years, formats.
#include "zvtest.h"

#include "clock.h"
#include "date.h"

namespace {

struct parsed {
  bool valid;
  std::string text;  // format() when valid, else the alternative text
};

template <typename T = gathered_datetime>
parsed parse(const char* s, unsigned hint = 0) {
  T v;
  v.setDate(s, hint);
  return {v.is_valid(), v.is_valid() ? v.format() : v.altstring()};
}

}  // namespace

TEST(DateGuess, ReadsUnambiguousShapesAndKeepsTheTextOfOthers) {
  EXPECT_EQ("2006-05-01 13:45:00", parse("2006-05-01 13:45:00").text);
  EXPECT_EQ("2006-05-13", parse<gathered_date>("13/05/2006").text);
  EXPECT_EQ("2006-05-13", parse<gathered_date>("05/13/2006").text);
  EXPECT_EQ("2006-05-13 13:45:00", parse("13:45:00   13/05/2006").text);
  EXPECT_EQ("2006-05-01 09:30:00", parse("2006/05/01 09:30").text);
  parsed eight = parse("20060501");  // read at fixed positions
  EXPECT_TRUE(eight.valid);
  EXPECT_EQ("2006-05-01 00:00:00", eight.text);
  for (const char* t : {"01/02/2006", "2006 05 01", "20060501134500.000000+060", "yesterday", "x", ""}) {
    parsed p = parse(t);
    EXPECT_FALSE(p.valid) << t;
    EXPECT_EQ(t, p.text);
  }
}

TEST(DateGuess, TimeAloneFillsOnlyTheTime) {
  gathered_time t;
  t.setDate("13:05:09", 0);
  EXPECT_STREQ("13:05:09", t.format());
  EXPECT_FALSE(t.is_valid());  // no date was ever given
  t.setDate("2006-05-01", DATE_HINT_DATE_ONLY | DATE_ORDER_YMD);
  EXPECT_TRUE(t.is_valid());
  EXPECT_STREQ("13:05:09", t.format());
}

TEST(DateHint, ModeBitDecidesWhereTheDateIs) {
  EXPECT_EQ("2006-05-13", parse<gathered_date>("05/13/2006", 0x4213000).text);
  EXPECT_FALSE(parse<gathered_date>("05/13/2006", 0x213000).valid);
  EXPECT_EQ("2006-05-13", parse<gathered_date>("Sat 05/13/2006", 0x213000).text);
  EXPECT_EQ("2006-05-13", parse<gathered_date>("13.05.2006", DATE_HINT_DATE_ONLY | DATE_ORDER_DMYY).text);
  // Short years after day and month fall in the clock's century window.
  for (auto c : {std::make_pair("12/31/99", "1999-12-31"), std::make_pair("06/15/05", "2005-06-15")})
    EXPECT_EQ(c.second, parse<gathered_date>(c.first, 0x4213000).text);
  EXPECT_EQ("2006-05-13 07:08:00",
            parse("07:08 13.05.2006", DATE_HINT_TIME_THEN_DATE | DATE_ORDER_DMY | TIME_ORDER_HM).text);
  // An unknown date order reads no date.
  EXPECT_FALSE(parse("2006-05-13", DATE_HINT_DATE_ONLY | 0x999000).valid);
}

TEST(DateHint, ChecksRangesButNotDaysPerMonth) {
  EXPECT_TRUE(parse("2006-02-31", DATE_HINT_DATE_ONLY | DATE_ORDER_YMD).valid);
  EXPECT_TRUE(parse("2006-02-01 24:60:60").valid);
  EXPECT_FALSE(parse("2006-02-01 25:00:00").valid);
  EXPECT_FALSE(parse("2006-13-01", DATE_HINT_DATE_ONLY | DATE_ORDER_YMD).valid);
  EXPECT_FALSE(parse("0-01-01", DATE_HINT_DATE_ONLY | DATE_ORDER_YMD).valid);
  // Numbers too large for a field saturate instead of wrapping.
  gathered_date d;
  d.setDate("99999999999999999999-05-01", DATE_HINT_DATE_ONLY | DATE_ORDER_YMD);
  EXPECT_EQ(4294967295u, d.year);
  EXPECT_LT(strlen(d.format()), 32u);
}

TEST(DateCim, ReadsFixedPositionsWithMicroseconds) {
  gathered_datetime v;
  v.setDate("20060501134500.123456+060", DATE_HINT_CIM_DATETIME);
  EXPECT_TRUE(v.is_valid());
  EXPECT_STREQ("2006-05-01 13:45:00", v.format());
  EXPECT_EQ(123456u, v.microseconds);
  v.setDate("2007**01", DATE_HINT_CIM_DATETIME);  // month piece not a number: kept
  EXPECT_EQ(2007u, v.year);
  EXPECT_EQ(5u, v.month);
  EXPECT_EQ(1u, v.day);
}

TEST(DateClock, TwoDigitYearsFallWithinTwentyYearsAheadOfTheCurrentYear) {
  gathered_date d;
  d.setDate(SP_CLOCK{0, 1, 1, 0, 0, 0, 0});  // unset current year: this year
  EXPECT_GE(d.year, 2000u);
  EXPECT_LT(d.year, 2100u);
  d.set_current_year(2006);
  const struct { unsigned char yy; unsigned expected; } cases[] = {{5, 2005}, {25, 2025}, {26, 1926}, {99, 1999}};
  for (const auto& c : cases) {
    d.setDate(SP_CLOCK{c.yy, 5, 1, 0, 13, 45, 0});
    EXPECT_EQ(c.expected, d.year);
    EXPECT_TRUE(d.is_valid());
  }
}

TEST(DateValue, SetFromBrokenDownTimeAndCopiesOwnTheirAlternativeText) {
  struct tm t = {};
  t.tm_year = 106, t.tm_mon = 4, t.tm_mday = 1, t.tm_hour = 13, t.tm_min = 5, t.tm_sec = 9;
  gathered_time tv;
  tv.setDate(&t);
  EXPECT_STREQ("13:05:09", tv.format());
  gathered_datetime dv;
  dv.setDate(&t);
  EXPECT_STREQ("2006-05-01 13:05:09", dv.format());
  EXPECT_STREQ("", dv.altstring());

  gathered_date a;
  a.setDate("01/02/2006", 0);
  gathered_date b = a;
  a.setDate("something else", 0);
  EXPECT_STREQ("01/02/2006", b.altstring());
  b = a;
  EXPECT_STREQ("something else", b.altstring());
  b.setDate(b.altstring(), 0);  // parsing the value's own text again keeps it intact
  EXPECT_STREQ("something else", b.altstring());
  b.setDate(nullptr, 0);
  EXPECT_STREQ("", b.altstring());
}

// SOURCE_DATE_EPOCH fixes the run's clock only when it is a whole number of
// seconds that fits; anything else leaves the live clock.
TEST(DateClock, SourceDateEpochFixesTheClockWhenValid) {
  const struct {
    const char* value;
    bool fixed;
    time_t at;
  } cases[] = {{"1700000000", true, 1700000000}, {"0", true, 0},  {"", false, 0},
               {"17e8", false, 0},               {"-5", false, 0}, {" 1700000000", false, 0},
               {"99999999999999999999", false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    setenv("SOURCE_DATE_EPOCH", c.value, 1);
    clock_reset();
    EXPECT_EQ(clock_is_fixed(), c.fixed);
    if (c.fixed) EXPECT_EQ(clock_now(), c.at);
    else EXPECT_GT(clock_now(), 1700000000);
  }
  // A two-digit year is placed near the clock's year: 45 is 2045 from 2026
  // on, and 1945 at the fixed instant of 2023.
  gathered_datetime live, fixed;
  live.setDate(SP_CLOCK{45, 11, 14, 0, 10, 0, 0});
  EXPECT_EQ(live.year, 2045u);
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  clock_reset();
  fixed.setDate(SP_CLOCK{45, 11, 14, 0, 10, 0, 0});
  EXPECT_EQ(fixed.year, 1945u);
  unsetenv("SOURCE_DATE_EPOCH");
  clock_reset();
}
