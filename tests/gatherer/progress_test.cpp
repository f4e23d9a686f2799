// progress_test.cpp - the count on a long probe's console line: shown and
// erased on a terminal, never written anywhere else.
#include "zvtest.h"

#include "progress.h"
#include "zelvarn2.h"

namespace {

/// What a terminal line shows after `bytes`: a backspace moves left, any
/// other character overwrites the cell under the cursor.
std::string screen(const std::string& bytes) {
  std::string line;
  size_t at = 0;
  for (char c : bytes) {
    if (c == '\b') {
      if (at > 0) at--;
      continue;
    }
    if (at < line.size()) {
      line[at] = c;
    } else {
      line += c;
    }
    at++;
  }
  return line.substr(0, at) + "|" + line.substr(at);  // "|": the cursor
}

std::string written(FILE* f) {
  fflush(f);
  std::string s;
  rewind(f);
  for (int c; (c = fgetc(f)) != EOF;) s += char(c);
  return s;
}

TEST(ConsoleProgress, CountsOnATerminalLineAndLeavesItAsItWasBeforeTheStatusWord) {
  gatherer_setting(SETTING_SILENT, SETTING_OFF);
  const struct {
    bool terminal, silent;
    const char* after_counts;  // the line after 9, 10 and 2 packages
  } cases[] = {{true, false, "NAME .... 2 packages| "},
               {false, false, "NAME .... |"},
               {true, true, "NAME .... |"}};
  for (const auto& c : cases) {
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    fputs("NAME .... ", f);
    console_progress_set_output(f, c.terminal, true);
    gatherer_setting(SETTING_SILENT, c.silent ? SETTING_ON : SETTING_OFF);
    for (unsigned long n : {9ul, 10ul, 2ul}) console_progress(n, "packages");
    EXPECT_EQ(screen(written(f)), c.after_counts);
    console_progress_end();
    fputs("OK\n", f);
    std::string bytes = written(f);
    EXPECT_EQ(screen(bytes).substr(0, 14), "NAME .... OK\n|");
    // Not a terminal, or silent: byte for byte as without it.
    EXPECT_TRUE((c.terminal && !c.silent) || bytes == "NAME .... OK\n") << bytes;
    fclose(f);
  }
  gatherer_setting(SETTING_SILENT, SETTING_OFF);
  console_progress_set_output(nullptr, false, false);
}

}  // namespace
