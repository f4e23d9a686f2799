// utf8_test.cpp - multibyte, wide and UTF-8 conversions, filters and checksums.
#include "zvtest.h"

#include "debug.h"
#include "utf8.h"

namespace {

class Utf8 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr); }
  void TearDown() override {
    disable_log_to_stream();
    if (log) fclose(log);
  }
  void start_log() {
    log = tmpfile();
    enable_log_to_stream(log);
  }
  std::string logged() {
    disable_log_to_stream();
    rewind(log);
    return zvtest::read_stream(log);
  }
  static std::string utf8(const wchar_t* in) {
    std::unique_ptr<const char[]> out(wide_to_utf8(in));
    return out.get();
  }
  static std::wstring wide(const char* in) {
    std::unique_ptr<wchar_t[]> out(utf8_to_wide(reinterpret_cast<const unsigned char*>(in)));
    return out.get();
  }
  FILE* log = nullptr;
};

TEST_F(Utf8, ConvertsLocaleTextBothWaysReplacingALoneByteAndLoggingOneError) {
  std::unique_ptr<wchar_t[]> w(mbcs_to_wide("\xC3\xA9t\xC3\xA9"));
  EXPECT_EQ(std::wstring(w.get()), L"\u00e9t\u00e9");
  std::unique_ptr<char[]> m(wide_to_mbcs(L"\u00e9\U0001F600"));
  EXPECT_STREQ(m.get(), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(mbcs_to_wide(nullptr), nullptr);
  EXPECT_EQ(wide_to_mbcs(nullptr), nullptr);
  start_log();
  w.reset(mbcs_to_wide("\xE9" "A\xC3"));
  EXPECT_EQ(std::wstring(w.get()), L"\ufffdA\ufffd");  // invalid, then good, then cut short
  EXPECT_EQ(zvtest::count_of(logged(), "mbcs: mbrtowc ("), 1u);
}

TEST_F(Utf8, NeverWritesControlCharactersOrCharactersXmlForbids) {
  EXPECT_EQ(utf8(L"\t\n\r\x01\x1f"), "\t\n\r??");
  const wchar_t in[] = {'\t', '\n', '\r', 1, 0xD800, 0x110000, 'x', 0};
  std::unique_ptr<char[]> m(wide_to_mbcs(in));
  EXPECT_STREQ(m.get(), "\t\n\r???x");  // no characters at all are not encoded either
  const wchar_t bad[] = {0xFFFE, 0xFFFF, 0xD800, 0xDFFF, 0x110000, static_cast<wchar_t>(-1), 'x', 0};
  EXPECT_EQ(utf8(bad), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx");
}

TEST_F(Utf8, EncodesAndDecodesCharactersAboveTheBasicPlane) {
  EXPECT_EQ(utf8(L"a\u00e9\u4e2d\U0001F600\U0010FFFF"),
            "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(wide("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"),
            L"a\u00e9\u4e2d\U0001F600\U0010FFFF");
  // The one-argument form has room for four bytes per character.
  EXPECT_EQ(utf8(std::wstring(1000, L'\U0001F600').c_str()).size(), 4000u);
}

TEST_F(Utf8, SkipsWhatDoesNotFitAndLogsTheOverflow) {
  start_log();
  unsigned char out[4];
  memset(out, 0x55, sizeof out);
  EXPECT_EQ(wide_to_utf8(L"\u00e9\u00e9", out, 4), out);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "\xC3\xA9");
  std::string text = logged();
  EXPECT_NE(text.find("utf8: buffer overflow after 1 of 2 characters\n"), std::string::npos) << text;
  EXPECT_NE(text.find("utf8: the following string doesn't fit in a buffer of 4 bytes [\xC3\xA9\xC3\xA9]\n"),
            std::string::npos)
      << text;
  // A later character that still fits is written.
  EXPECT_STREQ(reinterpret_cast<char*>(wide_to_utf8(L"\u4e2d\u00e9a", out, 4)), "\xE4\xB8\xAD");
  EXPECT_STREQ(reinterpret_cast<char*>(wide_to_utf8(L"\u00e9\U0001F600a", out, 4)), "\xC3\xA9" "a");
  EXPECT_STREQ(reinterpret_cast<char*>(wide_to_utf8(L"abc", out, 1)), "");
}

TEST_F(Utf8, ReplacesEachMalformedSequenceResynchronisesAndNeverReadsPastTheEnd) {
  const struct {
    const char* in;
    const wchar_t* out;
  } cases[] = {
      {"\xE9" "A", L"\ufffdA"},                              // lead without continuation
      {"\x80\xBF", L"\ufffd\ufffd"},                         // stray continuations
      {"\xC0\x80", L"\ufffd\ufffd"},                         // overlong NUL
      {"\xE0\x80\xAF", L"\ufffd\ufffd\ufffd"},               // overlong slash
      {"\xED\xA0\x80", L"\ufffd\ufffd\ufffd"},               // surrogate
      {"\xF4\x90\x80\x80", L"\ufffd\ufffd\ufffd\ufffd"},     // above U+10FFFF
      {"\xE4\xB8z", L"\ufffdz"},                             // cut short, then resumes
      {"\xF0\x9F\x98", L"\ufffd"}, {"\xF0\x9F", L"\ufffd"},  // cut short at the end
      {"\xF0", L"\ufffd"}, {"\xE2\x82", L"\ufffd"}, {"\xC3", L"\ufffd"},
  };
  for (const auto& c : cases) {
    // Exactly sized heap copies: the address sanitiser catches any over-read.
    size_t n = strlen(c.in) + 1;
    std::unique_ptr<unsigned char[]> in(new unsigned char[n]);
    memcpy(in.get(), c.in, n);
    std::unique_ptr<wchar_t[]> out(utf8_to_wide(in.get()));
    EXPECT_EQ(std::wstring(out.get()), c.out) << c.in;
  }
  wchar_t out[3];  // a caller's buffer is filled within its capacity
  utf8_to_wide(reinterpret_cast<const unsigned char*>("abcd"), out, 3);
  EXPECT_EQ(std::wstring(out), L"ab");
  utf8_to_wide(nullptr, out, 3);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(utf8_to_wide(nullptr), nullptr);
}

TEST_F(Utf8, FiltersSanitiseToAsciiNamesAndFileNames) {
  std::unique_ptr<char[]> s(sanitised_ascii("\x63\x61\x66\xC3\xA9\x7F\x1F ~"));
  EXPECT_STREQ(s.get(), "caf???? ~");
  std::unique_ptr<wchar_t[]> w(wide_sanitised_ascii(L"caf\u00e9\x7f ~"));
  EXPECT_EQ(std::wstring(w.get()), L"caf?? ~");
  const char* cases[][2] = {{"Operating System", "OPERATING_SYSTEM"}, {"/boot Contents", "_BOOT_CONTENTS"},
                            {"Kernel Command-Line 2", "KERNEL_COMMAND_LINE_2"}, {"caf\xC3\xA9", "CAF__"}};
  for (auto& c : cases) EXPECT_STREQ(std::unique_ptr<char[]>(make_Teldrin_name(c[0])).get(), c[1]);
  EXPECT_EQ(make_Teldrin_name(nullptr), nullptr);
  wchar_t name[] = L"a\"b*c/d<e>f?g\\h|i\x01j.k";
  EXPECT_EQ(filter_filename(name, L'_'), name);
  EXPECT_EQ(std::wstring(name), L"a_b_c_d_e_f_g_h_i_j.k");
  char text[] = "ab-c d9.";
  filter_alphanumeric(text, '_');
  EXPECT_STREQ(text, "ab_c_d9_");
  convert_to_uppercase(text);
  EXPECT_STREQ(text, "AB_C_D9_");
}

TEST_F(Utf8, ChecksumsAddSignedBytesAndLowWideBits) {
  EXPECT_EQ(string_checksum(""), 0);
  EXPECT_EQ(string_checksum("abc"), 0x0126);
  EXPECT_EQ(string_checksum("\xE9"), 0xFFE9);
  EXPECT_EQ(string_checksum("0x1F"), 0x011F);
  EXPECT_EQ(wide_string_checksum(L"abc"), 0x0126);
  EXPECT_EQ(wide_string_checksum(L"\U0001F600a"), static_cast<unsigned short>(0xF600 + 'a'));
}

}  // namespace
