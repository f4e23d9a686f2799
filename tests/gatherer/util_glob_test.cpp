// util_glob_test.cpp - wildcard matching of names against patterns.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "util_glob.h"

TEST(Glob, StarMatchesAnyRunIgnoringCase) {
  EXPECT_TRUE(compare_glob("Gatherer.LOG", "*.log"));
  EXPECT_TRUE(compare_glob("ABC", "a*"));
  EXPECT_FALSE(compare_glob("abc", "*d"));
  EXPECT_TRUE(compare_glob("", "*"));
  EXPECT_TRUE(compare_glob("ac", "a*c"));
}

TEST(Glob, QuestionMarkTakesOneCharacterAndWholeTextMustMatch) {
  EXPECT_TRUE(compare_glob("abc", "a?c"));
  EXPECT_FALSE(compare_glob("ac", "a?c"));
  EXPECT_FALSE(compare_glob("", "?"));
  EXPECT_FALSE(compare_glob("abcd", "abc"));
  EXPECT_FALSE(compare_glob("abc", "abcd"));
  EXPECT_FALSE(compare_glob("a", ""));
}

TEST(Glob, BacktracksAfterPartialMatchBehindStar) {
  EXPECT_TRUE(compare_glob("mississippi", "*sip*"));
  EXPECT_TRUE(compare_glob("aaab", "*ab"));
  EXPECT_TRUE(compare_glob("/var/log/messages.1", "/var/*/mess*.?"));
  EXPECT_FALSE(compare_glob("/var/log/messages", "/var/*/mess*.?"));
  EXPECT_TRUE(compare_glob("x.tar.gz", "*.*.gz"));
}

TEST(Glob, WideTextsAndNullArguments) {
  setlocale(LC_CTYPE, "C.UTF-8");
  EXPECT_TRUE(compare_glob_wide(L"\u00e9T\u00c9.TXT", L"\u00c9t\u00e9*.txt"));
  EXPECT_FALSE(compare_glob_wide(nullptr, L"*"));
  EXPECT_FALSE(compare_glob(nullptr, "*"));
  EXPECT_FALSE(compare_glob("a", nullptr));
}

TEST(Glob, LongAdversarialPatternEndsQuickly) {
  std::string text(20000, 'a');
  std::string pattern;
  for (int i = 0; i < 100; ++i) pattern += "*a";
  pattern += "b";
  EXPECT_FALSE(compare_glob(text.c_str(), pattern.c_str()));
}
