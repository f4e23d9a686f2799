// util_string_test.cpp - string lists, bounded string helpers, line readers
// and the process and user queries.
#include "zvtest.h"

#include <utmp.h>

#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

namespace {

std::string all_of(str_list& list) {
  std::string joined;
  for (const char* s = list.get_first(); s; s = list.get_next()) joined += std::string(s) + "|";
  return joined;
}

}  // namespace

TEST(StrList, SplitsAtSeparatorsSkippingEmptyPieces) {
  str_list wide(L"a;b;;c;", L';');
  EXPECT_EQ("a|b|c|", all_of(wide));
  str_list narrow(";  x ;y", ';');
  EXPECT_EQ("  x |y|", all_of(narrow));  // pieces are not trimmed
  str_list none(";;", ';');
  EXPECT_EQ(nullptr, none.get_first());
  str_list null_text(static_cast<const char*>(nullptr), ';');
  EXPECT_EQ(0u, null_text.count());
}

TEST(StrList, CursorStopsPastTheEnd) {
  str_list list("one,two", ',');
  EXPECT_EQ(nullptr, list.get_current());
  EXPECT_STREQ("one", list.get_first());
  EXPECT_STREQ("two", list.get_next());
  EXPECT_EQ(nullptr, list.get_next());
  EXPECT_EQ(nullptr, list.get_next());
  EXPECT_EQ(nullptr, list.get_current());
  list.add(duplicate_string("three"));
  list.add(nullptr);
  EXPECT_EQ("one|two|three|", all_of(list));
  list.initialize();
  EXPECT_EQ(nullptr, list.get_first());
}

TEST(Trim, RemovesWhiteSpaceAtBothEndsOnly) {
  char s[] = "  a b \n";
  EXPECT_STREQ("a b", trim_whitespace(s));
  char blanks[] = "   ";
  EXPECT_STREQ("", trim_whitespace(blanks));
  wchar_t w[] = L"\t x y\r\n";
  EXPECT_STREQ(L"x y", trim_whitespace(w));
  char quoted[] = " \"name\" ";
  EXPECT_STREQ("name", trim_string(quoted, "\""));
  EXPECT_EQ(nullptr, trim_whitespace(static_cast<char*>(nullptr)));
}

TEST(BoundedStrings, AppendCutsToBufferAndTerminates) {
  char buf[4] = "ab";
  EXPECT_STREQ("abc", append_string(buf, sizeof buf, "cdef"));
  char full[4] = {'w', 'x', 'y', 'z'};  // not terminated
  EXPECT_STREQ("wxy", append_string(full, sizeof full, "more"));
  char out[8];
  EXPECT_STREQ("1234567", format_string(out, sizeof out, "%d", 123456789));
}

TEST(BoundedStrings, RemoveFilenameCutsAtLastSlashOrClearsAll) {
  char path[16] = "/a/b/c";
  remove_filename_from_path(path, sizeof path);
  EXPECT_STREQ("/a/b", path);
  char bare[8] = "name";
  remove_filename_from_path(bare, sizeof bare);
  EXPECT_EQ(0, memcmp(bare, "\0\0\0\0\0\0\0\0", 8));
}

TEST(BoundedStrings, SmallTextHelpers) {
  char dst[8];
  const unsigned char raw[] = {'A', 0, 0x7f, ' ', 0xff, '~'};
  my_strncpy(dst, raw, 6);
  EXPECT_STREQ("A.. .~", dst);
  EXPECT_TRUE(isalnumstr("abc 123"));
  EXPECT_TRUE(isalnumstr(""));
  EXPECT_FALSE(isalnumstr("a-b"));
  EXPECT_EQ(0, CompareString("ABCx", "abcy", 3, 1));
  EXPECT_EQ(-1, CompareString("ABC", "abc", 3, 0));
  EXPECT_EQ(0, CompareString("ab", "abc", 0, 0));  // all of a
  EXPECT_EQ(-1, CompareString(nullptr, "a", 1, 0));
}

TEST(FindSequence, FindsFirstOccurrenceWithinLength) {
  char buf[] = "aab\0_SM_";
  EXPECT_EQ(buf + 1, FindSequence(buf, 3, "ab", 2));
  EXPECT_EQ(buf + 4, FindSequence(buf, 8, "_SM_", 4));
  EXPECT_EQ(nullptr, FindSequence(buf, 7, "_SM_", 4));  // would run past length
  EXPECT_EQ(nullptr, FindSequence(buf, 3, "ab", 0));
  EXPECT_EQ(nullptr, FindSequence(nullptr, 3, "ab", 2));
}

TEST(DeviceName, BuildsAlphabeticAndNumericIndexes) {
  char out[32];
  EXPECT_STREQ("/dev/sdab", make_device_name(out, sizeof out, "/dev/", "sd", nullptr, 27, ALPHABETIC));
  EXPECT_STREQ("sda1", make_device_name(out, sizeof out, nullptr, "sd", "1", 0, ALPHABETIC));
  EXPECT_STREQ("sdzz", make_device_name(out, sizeof out, nullptr, "sd", nullptr, 701, ALPHABETIC));
  EXPECT_STREQ("sdNA", make_device_name(out, sizeof out, nullptr, "sd", nullptr, 702, ALPHABETIC));
  EXPECT_STREQ("/dev/sg255", make_device_name(out, sizeof out, "/dev/", "sg", nullptr, 255, NUMERIC));
  EXPECT_STREQ("sg", make_device_name(out, sizeof out, nullptr, "sg", nullptr, 3, static_cast<alphanum_t>(7)));
  char tiny[5];
  EXPECT_STREQ("/dev", make_device_name(tiny, sizeof tiny, "/dev/", "sg", nullptr, 1, NUMERIC));
}

TEST(LineReaders, NarrowReaderStripsOnlyTheLineEnd) {
  char data[] = "one\r\ntwo\n\nlast";
  FILE* f = fmemopen(data, strlen(data), "r");
  ASSERT_NE(nullptr, f);
  std::string line;
  const char* expected[] = {"one", "two", "", "last"};
  for (const char* e : expected) {
    ASSERT_TRUE(read_line(f, line));
    EXPECT_EQ(e, line);
  }
  EXPECT_FALSE(read_line(f, line));
  fclose(f);
  char s[] = "x\r\n";
  EXPECT_STREQ("x", strip_line_end(s));
}

TEST(LineReaders, WideReaderGrowsForLongLinesAndKeepsUndecodableBytes) {
  setlocale(LC_CTYPE, "C.UTF-8");
  std::string data = std::string(20000, 'x') + "\n" + "caf\xc3\xa9 \xff!";
  FILE* f = fmemopen(&data[0], data.size(), "r");
  ASSERT_NE(nullptr, f);
  wchar_t* buffer = nullptr;
  unsigned size = 0;
  EXPECT_EQ(20001, get_wide_line(f, &buffer, &size));
  EXPECT_EQ(24576u, size);
  EXPECT_EQ(L'\n', buffer[20000]);
  EXPECT_EQ(7, get_wide_line(f, &buffer, &size));
  EXPECT_STREQ(L"caf\u00e9 \u00ff!", buffer);
  EXPECT_EQ(-1, get_wide_line(f, &buffer, &size));
  delete[] buffer;
  fclose(f);
}

TEST(ProcessQueries, WorkingDirectoryOfAnyLength) {
  std::string start = GetCurrentDir();
  ASSERT_FALSE(start.empty());
  zvtest::temp_dir top;
  std::string deep = top.path();
  for (int i = 0; i < 12; ++i) {
    deep += "/" + std::string(60, static_cast<char>('a' + i));
    ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
  }
  ASSERT_EQ(0, chdir(deep.c_str()));
  EXPECT_EQ(deep, GetCurrentDir());
  ASSERT_EQ(0, chdir(start.c_str()));
}

TEST(ProcessQueries, UserAndProgramNamesAreBoundedText) {
  char name[64];
  EXPECT_GT(strlen(get_user_name(name, sizeof name)), 0u);
  char exe[4096] = "";
  ASSERT_TRUE(get_program_filename(exe, sizeof exe));
  EXPECT_EQ('/', exe[0]);
  char small[6];
  memset(small, 'z', sizeof small);
  ASSERT_TRUE(get_program_filename(small, sizeof small));
  EXPECT_EQ(5u, strlen(small));
  EXPECT_EQ(getpid(), get_process_id());
}

namespace {

struct utmp login(short type, const char* user, const char* id, const char* host, int when) {
  struct utmp u;
  memset(&u, 0, sizeof u);
  u.ut_type = type;
  memcpy(u.ut_user, user, std::min(strlen(user), sizeof u.ut_user));  // full-width names stay unterminated
  memcpy(u.ut_id, id, std::min(strlen(id), sizeof u.ut_id));
  memcpy(u.ut_host, host, std::min(strlen(host), sizeof u.ut_host));
  u.ut_tv.tv_sec = when;
  return u;
}

}  // namespace

TEST(CurrentUser, PrefersNewestDisplayLoginThenATerminalAndReadsFullWidthNames) {
  std::string full(sizeof(utmp::ut_user), 'u');
  struct {
    std::vector<struct utmp> records;
    std::string expected;
  } cases[] = {
      {{login(USER_PROCESS, "older", ":0", "", 100), login(USER_PROCESS, "newest", ":1", "", 300),
        login(USER_PROCESS, "same", ":2", "", 300),      // not strictly later
        login(USER_PROCESS, "remote", ":3", "far", 900),  // has a host
        login(USER_PROCESS, "LOGIN", ":4", "", 900), login(DEAD_PROCESS, "gone", ":5", "", 900),
        login(USER_PROCESS, "tty", "1", "", 999)},
       "newest"},
      {{login(USER_PROCESS, "first", "1", "", 100), login(USER_PROCESS, full.c_str(), "tty2", "", 200)}, full},
      {{}, ""},
  };
  for (const auto& c : cases) {
    zvtest::temp_dir root;
    std::string records(reinterpret_cast<const char*>(c.records.data()), c.records.size() * sizeof(struct utmp));
    ASSERT_TRUE(zvtest::write_file(root.path(), platform_path::utmp, records));
    sysroot_set(root.path().c_str());
    char out[64];
    EXPECT_EQ(c.expected, get_current_user(out, sizeof out));
    sysroot_set(nullptr);
  }
}
