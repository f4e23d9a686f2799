// util_glob_test.cpp - wildcard matching of names against patterns.
#include "zvtest.h"

#include "util_glob.h"

TEST(Glob, MatchesWholeTextsIgnoringCaseAndBacktracksBehindStars) {
  const struct {
    const char *text, *pattern;
    bool match;
  } cases[] = {
      {"Gatherer.LOG", "*.log", true}, {"ABC", "a*", true},  {"abc", "*d", false},  {"", "*", true},
      {"ac", "a*c", true},             {"abc", "a?c", true}, {"ac", "a?c", false},  {"", "?", false},
      {"abcd", "abc", false},          {"abc", "abcd", false}, {"a", "", false},    {"mississippi", "*sip*", true},
      {"aaab", "*ab", true},           {"x.tar.gz", "*.*.gz", true},
      {"/var/log/messages.1", "/var/*/mess*.?", true}, {"/var/log/messages", "/var/*/mess*.?", false},
  };
  for (const auto& c : cases) EXPECT_EQ(compare_glob(c.text, c.pattern), c.match) << c.text << " ~ " << c.pattern;
}

TEST(Glob, WideTextsNullArgumentsAndALongAdversarialPattern) {
  setlocale(LC_CTYPE, "C.UTF-8");
  EXPECT_TRUE(compare_glob_wide(L"\u00e9T\u00c9.TXT", L"\u00c9t\u00e9*.txt"));
  EXPECT_FALSE(compare_glob_wide(nullptr, L"*"));
  EXPECT_FALSE(compare_glob(nullptr, "*"));
  EXPECT_FALSE(compare_glob("a", nullptr));
  std::string text(20000, 'a'), pattern;
  for (int i = 0; i < 100; ++i) pattern += "*a";
  EXPECT_FALSE(compare_glob(text.c_str(), (pattern + "b").c_str()));  // and ends quickly
}
