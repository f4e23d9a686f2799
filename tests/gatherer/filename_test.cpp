// filename_test.cpp - output file names from the "@" macro template.
#include "filename.h"

#include "zvtest.h"

#include "sysinfo.h"
#include "sysroot.h"
#include "zelvarn2.h"

namespace {

/// The machine facts come from an empty system root and are then set by hand.
class FileName : public ::testing::Test {
 protected:
  void SetUp() override {
    sysroot_set(root.path().c_str());
    SysInfo::get_instance();
    SysInfo::instance->set_vendor("Acme Computers");
    SysInfo::instance->set_model("Box 9");
    SysInfo::instance->set_serial("SN1");
  }
  void TearDown() override {
    setlocale(LC_ALL, "C");
    sysroot_set(nullptr);
  }
  std::string name(const char* tmpl, const char* suffix = ".ZV2", int size = 256) {
    std::string out(static_cast<size_t>(size) + 8, '#');
    gatherer_generate_filename(tmpl, suffix, &out[0], size);
    EXPECT_EQ(out.substr(static_cast<size_t>(size)), "########");  // nothing past the buffer
    return out.c_str();
  }
  std::string expand(wchar_t letter) {
    wchar_t* v = gatherer_expand_filename_macro(letter);
    EXPECT_NE(v, nullptr);
    std::wstring w = v ? v : L"";
    delete[] v;
    return std::string(w.begin(), w.end());  // the tests use ASCII values here
  }
  zvtest::temp_dir root;
  zvtest::temp_dir home;
  zvtest::scoped_env saved_home{"HOME", getenv("HOME")};  // put back after each test
};

TEST_F(FileName, TemplateKeepsItsOwnTextAndBlanksUnsafeCharactersOfValues) {
  EXPECT_EQ(name("@V-@M-@S", ".FILESCAN.XML"), "Acme Computers-Box 9-SN1.FILESCAN.XML");
  const char* cases[][2] = {{"@V-@M-@S", "Acme Computers-Box 9-SN1.ZV2"},  // blanks are kept
                            // Macros without meaning expand to nothing.
                            {"x@@y", "xy.ZV2"}, {"x@vy@K", "xy.ZV2"}, {"end@", "end.ZV2"},
                            {"plain name", "plain name.ZV2"}, {"", ".ZV2"},
                            // The template's own bytes stay as given, in any locale.
                            {"caf\xe9\x01-@S", "caf\xe9\x01-SN1.ZV2"}, {"caf\xc3\xa9", "caf\xc3\xa9.ZV2"}};
  for (const auto& c : cases) EXPECT_EQ(name(c[0]), c[1]) << c[0];
  EXPECT_EQ(name(nullptr, nullptr), "");
  // Values never give a hidden name, nor one of blanks only.
  for (const char* serial : {"   ", "", "\t\n", ".hidden"}) {
    SysInfo::instance->set_serial(serial);
    EXPECT_EQ(name("@S"), serial[0] == '.' ? "_hidden.ZV2" : "Unknown.ZV2") << serial;
  }
  EXPECT_EQ(name(".@S"), "..hidden.ZV2");  // the template's own dot stays
  SysInfo::instance->set_serial("a/b?c*d\"e<f>g\\h|i:j\tk\x7fl");
  EXPECT_EQ(name("out/@S"), "out/a b c d e f g h i:j k l.ZV2");
}

TEST_F(FileName, DesktopIsTakenWhenUsableIsNotCleanedAndIsEmptyWithoutHome) {
  setenv("HOME", home.path().c_str(), 1);
  EXPECT_EQ(name("@D/r"), home.path() + "/r.ZV2");
  ASSERT_EQ(mkdir(home.file("Desktop").c_str(), 0700), 0);
  EXPECT_EQ(name("@D/r"), home.path() + "/Desktop/r.ZV2");
  unsetenv("HOME");
  EXPECT_EQ(expand(L'D'), "");
  EXPECT_EQ(name("@Dr"), "r.ZV2");
}

TEST_F(FileName, LongNameIsCutSoTheSuffixStaysEvenAtACharacterBoundary) {
  EXPECT_EQ(name("abcdefghij", ".ZV2", 9), "abcd.ZV2");
  EXPECT_EQ(name("abc", ".ZV2", 3), ".Z");  // only a too small buffer cuts the suffix
  EXPECT_EQ(name("abc", ".ZV2", 1), "");
  ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
  std::string vendor;
  for (int i = 0; i < 300; ++i) vendor += "\xc3\x9c";  // "Ü", two bytes each
  SysInfo::instance->set_vendor(vendor.c_str());
  // The value itself is cut to 255 bytes at a character boundary.
  wchar_t* v = gatherer_expand_filename_macro(L'V');
  EXPECT_EQ(wcslen(v), 127u);
  EXPECT_EQ(wcsspn(v, L"\u00dc"), 127u);
  delete[] v;
  for (int size : {256, 64, 10, 7}) {
    std::string got = name("@V@V", ".ZV2", size);
    ASSERT_GE(got.size(), 4u) << size;
    EXPECT_EQ(got.substr(got.size() - 4), ".ZV2") << size;
    EXPECT_LE(got.size(), static_cast<size_t>(size - 1));
    EXPECT_EQ(got.size() % 2, 0u) << "a character was split at size " << size;
    EXPECT_NE(mbstowcs(nullptr, got.c_str(), 0), static_cast<size_t>(-1));
  }
}

}  // namespace
