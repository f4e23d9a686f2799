// debug_test.cpp - the debug log: file and stream modes, prefixes, dumps, failures.
#include "zvtest.h"

#include "debug.h"

namespace {

/// A fresh directory for the log, removed afterwards.
class DebugLog : public ::testing::Test {
 protected:
  void TearDown() override {
    disable_log_to_file();
    disable_log_to_stream();
    if (stream) fclose(stream);
  }
  static std::string read(const std::string& path) { return zvtest::read_file(path); }
  /// Writes text to a new file in the directory and returns its path.
  std::string put(const std::string& name, const std::string& text) {
    zvtest::write_file(dir.path(), name, text);
    return dir.file(name);
  }
  /// Switches stream mode on into a temporary file and returns what the
  /// log holds after `body` ran.
  template <class F>
  std::string captured(F body) {
    stream = tmpfile();
    enable_log_to_stream(stream);
    body();
    disable_log_to_stream();
    rewind(stream);
    std::string out = zvtest::read_stream(stream);
    fclose(stream);
    stream = nullptr;
    return out;
  }
  zvtest::temp_dir dir;
  std::string log = dir.file("gatherer.log");
  FILE* stream = nullptr;
};

/// Replaces each processor-time prefix ("%8.4f ") at the start of a line by
/// "T ", so the rest of a log can be compared exactly.
std::string masked_times(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    bool stamp = text.size() - at >= 9 && text[at + 3] == '.' && text[at + 8] == ' ';
    for (size_t i = 0; stamp && i < 8; ++i)
      stamp = i == 3 || isdigit(static_cast<unsigned char>(text[at + i])) || (i < 2 && text[at + i] == ' ');
    if (stamp) {
      out += "T ";
      at += 9;
    }
    size_t nl = text.find('\n', at);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    out.append(text, at, end - at);
    at = end;
  }
  return out;
}

TEST_F(DebugLog, WritesNothingAndCreatesNoFileWhenOff) {
  enable_log_to_file(log.c_str());
  disable_log_to_file();
  unlink(log.c_str());
  EXPECT_FALSE(debug_log_enabled());
  EXPECT_EQ(printd("lost %d\n", 1), 0);
  print_hexdump("t", "abc", 3, nullptr);
  EXPECT_NE(access(log.c_str(), F_OK), 0);
}

TEST_F(DebugLog, FileModeGivesOneTimePrefixToAMessageOfPiecesAndTruncatesOnlyOnEnable) {
  put("gatherer.log", "old\n");
  enable_append_log_to_file(log.c_str());
  EXPECT_EQ(read(log), "old\n");
  enable_log_to_file(log.c_str());
  EXPECT_EQ(read(log), "");
  printd("first ");
  printd("half\n");
  printd("next %s\n", "line");
  disable_log_to_file();
  EXPECT_EQ(masked_times(read(log)), "T first half\nT next line\n");
}

TEST_F(DebugLog, NeverTruncatesOrWritesThroughASymbolicLinkNorHangsOnAFifo) {
  std::string target = put("precious", "keep me\n");
  ASSERT_EQ(symlink(target.c_str(), log.c_str()), 0);
  enable_log_to_file(log.c_str());
  EXPECT_EQ(read(target), "keep me\n");
  EXPECT_DEATH(printd("x\n"), "Unable to open debug log: ");
  EXPECT_DEATH(enable_log_to_stream(log.c_str()), "Unable to open debug log: ");
  EXPECT_EQ(read(target), "keep me\n");

  std::string fifo = dir.file("fifo.log");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  enable_log_to_file(fifo.c_str());  // must not block
  EXPECT_DEATH(printd("x\n"), "AN INTERNAL ERROR OCCURRED.*\nUnable to open debug log: ");
}

TEST_F(DebugLog, StreamPathTruncatesARegularFile) {
  put("gatherer.log", "old contents\n");
  enable_log_to_stream(log.c_str());
  printd("one\n");
  printd("two\n");
  EXPECT_EQ(masked_times(read(log)), "T one\nT two\n");
}

TEST_F(DebugLog, WritesErrorsAsTextNumberAndSystemText) {
  std::string out = captured([] {
    errno = ENOENT;
    print_error("open", 2);
    EXPECT_EQ(errno, ENOENT);  // tracing a failure never changes errno
  });
  EXPECT_EQ(masked_times(out), std::string("T open (2): ") + strerror(2) + "\n");
}

TEST_F(DebugLog, TimeStampDoesNotDisturbLineStart) {
  std::string out = captured([] {
    printd("a");
    print_with_time("stamped\n");
    printd("b\n");
  });
  // "T a" + the 19 characters of the local time + " stamped\n" + "b\n"
  std::string masked = masked_times(out);
  ASSERT_EQ(masked.size(), 3 + 19 + 9 + 2) << out;
  EXPECT_EQ(masked.substr(0, 3), "T a");
  EXPECT_EQ(masked.substr(3 + 3, 1), " ");  // "Sun Dec  6 21:33:45"
  EXPECT_EQ(masked.substr(3 + 13, 1), ":");
  EXPECT_EQ(masked.substr(3 + 19), " stamped\nb\n");
}

TEST_F(DebugLog, WideMessagesAreWrittenAsLocaleText) {
  setlocale(LC_ALL, "C.UTF-8");
  std::string out = captured([this] {
    printdW(L"caf\u00e9 %ls %d\n", L"\u4e2d", 7);
    EXPECT_LE(fwide(stream, 0), 0);  // the stream never turns wide
    printd("narrow\n");
  });
  EXPECT_NE(out.find("caf\xc3\xa9 \xe4\xb8\xad 7\n"), std::string::npos) << out;
  EXPECT_NE(out.find("narrow\n"), std::string::npos);
}

TEST_F(DebugLog, DumpsTwentyBytesOnTwoPaddedLines) {
  unsigned char data[20];
  for (int i = 0; i < 20; ++i) data[i] = static_cast<unsigned char>('A' + i);
  data[1] = ' ';
  data[2] = '~';
  std::string out = captured([&] { print_hexdump("t", data, 20, "P"); });
  EXPECT_EQ(out,
            "P --- t (20 bytes) ---"
            "\nP 0000: 41 20 7e 44  45 46 47 48  49 4a 4b 4c  4d 4e 4f 50   A..DEFGHIJKLMNOP"
            "\nP 0010: 51 52 53 54 " + std::string(39, ' ') + "  QRST" + std::string(12, ' ') +
                "\nP --- END HEX DUMP ---\n");
}

TEST_F(DebugLog, CStyleDumpNeverClosesItsCommentEarly) {
  const char data[] = "a*/b*/*//**/ hello */ world";
  std::string out = captured([&] { print_hexdump("title */ x", data, sizeof data - 1, nullptr, true); });
  std::istringstream lines(out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    size_t close = line.find("*/");
    ASSERT_NE(close, std::string::npos) << line;
    EXPECT_EQ(line.find("*/", close + 1), std::string::npos) << line;
    EXPECT_EQ(line.compare(0, 2, "/*"), 0) << line;
  }
  EXPECT_EQ(count, 4);  // header, two data lines, trailer
  EXPECT_NE(out.find(" */ 0x61,0x2a,0x2f,0x62, 0x2a,"), std::string::npos) << out;
  EXPECT_NE(out.find("\n/* ----  END HEX DUMP ---" + std::string(54, ' ') + "*/ };\n"),
            std::string::npos);
}

TEST_F(DebugLog, WordDumpShowsWordsAndTheirCharacters) {
  const unsigned short words[3] = {0x0041, 0x1234, 0x007e};
  std::string out = captured([&] { print_worddump("w", words, 3, "> ", true); });
  EXPECT_EQ(out.compare(0, 9, "/* ----  "), 0);
  EXPECT_NE(out.find("     3 words */ unsigned short word_dump[] = {"), std::string::npos);
  EXPECT_NE(out.find("\n/* 0000: 0041 1234 007e "), std::string::npos) << out;
  EXPECT_NE(out.find("  A.." + std::string(13, ' ') + " */ 0x0041,0x1234,0x007e,"), std::string::npos)
      << out;
}

TEST_F(DebugLog, InternalErrorReportsToLogAndStandardErrorThenExitsEvenWithoutALog) {
  enable_log_to_file(log.c_str());
  EXPECT_EXIT((errno = ENOSPC, internal_error("broken %d\n", 7)), ::testing::ExitedWithCode(1),
              "AN INTERNAL ERROR OCCURRED -- THE PROGRAM CANNOT COMPLETE\nbroken 7\nSystem error: "
              "No space left on device\nThe unfinished files of this run are removed; an earlier "
              "container stays as it was.");
  EXPECT_EQ(read(log), "Internal error: broken 7\n");
  enable_append_log_to_file(dir.file("missing/gatherer.log").c_str());
  EXPECT_EXIT(internal_error("broken %d\n", 8), ::testing::ExitedWithCode(1), "CANNOT COMPLETE\nbroken 8");
}

}  // namespace
