// run_command_test.cpp - the time limit and output bound of outside commands.
#include "zvtest.h"

#include "run_command.h"
#include "util_string.h"

namespace {

struct limit_case {
  const char* command;
  long long bound;
  command_limit expected;
  size_t lines;            ///< whole lines read
  const char* last_line;   ///< the last line read ("" for none)
};

const limit_case limit_cases[] = {
    {"printf 'a\\nb\\n'", 1000, COMMAND_COMPLETE, 2, "b"},
    {"sleep 1000", 1000, COMMAND_TIMED_OUT, 0, ""},
    {"echo a; echo b; sleep 1000", 1000, COMMAND_TIMED_OUT, 2, "b"},
    // A background child keeps the pipe open after the shell is done.
    {"sleep 1000 & echo x", 1000, COMMAND_TIMED_OUT, 1, "x"},
    // A flood stops at the last whole line within the bound.
    {"yes line", 1003, COMMAND_OUTPUT_CUT, 200, "line"},
    {"yes 0123456789", 5, COMMAND_OUTPUT_CUT, 0, ""},
};

}  // namespace

TEST(RunCommand, LimitsEndTheCommandAndKeepWhatWasRead) {
  const int saved_seconds = command_time_limit();
  const long long saved_bound = command_output_limit();
  command_set_time_limit(1);
  for (const limit_case& c : limit_cases) {
    SCOPED_TRACE(c.command);
    command_set_output_limit(c.bound);
    auto start = std::chrono::steady_clock::now();
    FILE* p = command_open(c.command);
    ASSERT_NE(p, nullptr);
    std::vector<std::string> lines;
    std::string line;
    while (read_line(p, line)) lines.push_back(line);
    EXPECT_EQ(command_limit_hit(p), c.expected);
    command_close(p);
    EXPECT_EQ(command_last_limit(), c.expected);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(lines.size(), c.lines);
    EXPECT_EQ(lines.empty() ? "" : lines.back(), c.last_line);
  }
  command_set_time_limit(saved_seconds);
  command_set_output_limit(saved_bound);
  // The rows kept for the "Command Status" table go with this test.
  command_write_pending(nullptr);
}

TEST(RunCommand, TheWholeProcessGroupEndsWithTheCommand) {
  zvtest::temp_dir dir;
  const std::string pid_file = dir.file("pid");
  command_set_time_limit(1);
  FILE* p = command_open(("echo $$ > " + shell_quote(pid_file.c_str()) + "; sleep 1000 & wait").c_str());
  ASSERT_NE(p, nullptr);
  std::string line;
  EXPECT_FALSE(read_line(p, line));
  EXPECT_EQ(command_limit_hit(p), COMMAND_TIMED_OUT);
  command_close(p);
  command_write_pending(nullptr);
  command_set_time_limit(120);
  pid_t group = static_cast<pid_t>(std::stol(zvtest::read_file(pid_file)));
  ASSERT_GT(group, 1);
  // A killed member that init has not reaped yet still answers for a moment.
  bool gone = false;
  for (int i = 0; i < 300 && !gone; ++i) {
    gone = kill(-group, 0) == -1 && errno == ESRCH;
    if (!gone) usleep(10000);
  }
  EXPECT_TRUE(gone);
  EXPECT_STREQ(command_limit_text(COMMAND_TIMED_OUT), "timed out");
  EXPECT_STREQ(command_limit_text(COMMAND_OUTPUT_CUT), "output cut");
}
