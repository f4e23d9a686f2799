// zv2file_test.cpp - collected files in the container: header lines, the
// three conversions, command output, add results and temporary files.
#include "zv2file.h"

#include "zvtest.h"

#include "gthfile.h"
#include "postbox_task.h"
#include "report_check.h"
#include "temp_files.h"
#include "zelvarn2.h"

namespace {

/// Runs each test in a fresh current directory with an open container.
class Zv2File : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    gatherer_default_configuration();
    ASSERT_EQ(gather_file()->CreateFile("box.ZV2"), 0);
    set_gather_file_open(true);
  }
  void TearDown() override {
    delete GatherFile::instance;
    GatherFile::instance = nullptr;
    set_gather_file_open(false);
    setlocale(LC_ALL, "C");
    ASSERT_EQ(chdir(old_cwd), 0);
  }
  /// The data of item `index` of the container.
  std::string item(int index) {
    GatherFile* g = gather_file();
    if (index >= g->NumItems()) return "<missing>";
    std::string out = dir.file("item.out");
    unlink(out.c_str());
    if (g->ExtractItem(index, out.c_str()) != 0) return "<unreadable>";
    std::string data = zvtest::read_file(out);
    unlink(out.c_str());
    return data;
  }
  std::string input(const std::string& name, const std::string& content) {
    EXPECT_TRUE(zvtest::write_file(dir.path(), name, content));
    return dir.file(name);
  }
  std::vector<std::string> leftovers() {
    std::vector<std::string> names;
    for (const std::string& n : zvtest::list_dir(dir.path()))
      if (n.rfind("zelv", 0) == 0 || n.rfind("zvid", 0) == 0)
        names.push_back(n);
    return names;
  }
  zvtest::temp_dir dir;
  char old_cwd[4096];
};

std::string header(const std::string& file, const std::string& mime) {
  return "Filename: " + file + "\nMIME-Type: " + mime + "\n\n";
}

TEST_F(Zv2File, AsciiFileMarksUnprintableBytesAndBinaryFileStaysUnchanged) {
  std::string path = input("a.asc", std::string("ok\0x\x1b\xe9\t\r\n", 9));
  ASSERT_TRUE(store_ascii_file(path.c_str(), "text/plain"));
  EXPECT_EQ(gather_file()->GetItemType(0), 66);
  EXPECT_EQ(item(0), header(path, "text/plain") + "ok?x??\t\r\n");
  std::string data;
  for (int i = 0; i < 5000; ++i) data += static_cast<char>((i * 7) & 0xff);
  path = input("b.bin", data);
  ASSERT_TRUE(store_binary_file(path.c_str(), "text/xml"));
  EXPECT_EQ(item(1), header(path, "text/xml") + data);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(Zv2File, TextFileBecomesUtf8LosingNoTextAtBlockEndsInvalidOrZeroBytes) {
  ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
  // "é" occupies bytes 1023 and 1024: the first read block ends inside it.
  std::string split = std::string(1023, 'a') + "\xc3\xa9" + std::string(3000, 'b') + "\xe2\x82\xac";
  const struct {
    std::string file, stored;
  } cases[] = {{split, split}, {std::string("one\0two\xfftail", 12), "onetwo\xef\xbf\xbdtail"}};
  for (int i = 0; i < 2; i++) {
    std::string path = input("t" + std::to_string(i), cases[i].file);
    ASSERT_TRUE(store_text_file(path.c_str(), "text/plain"));
    EXPECT_EQ(item(i), header(path, "text/plain") + cases[i].stored) << i;
  }
}

TEST_F(Zv2File, CommandOutputIsStoredUnderTheGivenName) {
  ASSERT_TRUE(run_command_and_store_file("uname output", "printf 'x\\ty\\n'", "text/plain"));
  EXPECT_EQ(item(0), header("uname output", "text/plain") + "x\ty\n");
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(Zv2File, HeaderValuesCannotAddLinesOfTheirOwnAndLongOnesAreCutWhole) {
  mem_stream out;
  write_file_header(out.get(), "evil\nMIME-Type: text/html\r", "text/plain\n\nbody");
  EXPECT_EQ(out.text(), "Filename: evil MIME-Type: text/html \nMIME-Type: text/plain  body\n\n");

  ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
  std::string name;
  for (int i = 0; i < 3000; ++i) name += "\xc3\xa9";  // 6000 bytes
  mem_stream longer;
  write_file_header(longer.get(), name.c_str(), "text/plain");
  std::string text = longer.text();
  size_t first_end = text.find('\n');
  ASSERT_NE(first_end, std::string::npos);
  EXPECT_LT(first_end, 4112u);
  EXPECT_EQ(text.substr(first_end), "\nMIME-Type: text/plain\n\n");
  EXPECT_EQ(text.find("\xef\xbf\xbd"), std::string::npos);  // no half character at the cut
}

TEST_F(Zv2File, StoreFileReportsTheAddsRealResult) {
  std::string empty = input("empty", "");
  EXPECT_FALSE(store_file(empty.c_str(), 18, true));  // nothing to code
  EXPECT_TRUE(store_file(empty.c_str(), 18, false));
  EXPECT_FALSE(store_file(dir.file("missing").c_str(), 18, false));
  EXPECT_TRUE(store_ascii_file(empty.c_str(), "text/plain"));  // the header is there
  std::string one = input("one", "1");
  while (gather_file()->NumItems() < GatherFile::MAX_ITEMS)
    ASSERT_TRUE(store_file(one.c_str(), 18, false));
  EXPECT_FALSE(store_file(one.c_str(), 18, false));
  EXPECT_FALSE(store_binary_file(one.c_str(), "application/octet-stream"));
  // Outside container mode nothing is touched at all.
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  EXPECT_FALSE(store_text_file(one.c_str(), "text/plain"));
  EXPECT_FALSE(run_command_and_store_file("n", "touch zelv-ran", "text/plain"));
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(Zv2File, SourceThatIsNotARegularFileIsRefused) {
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(store_binary_file(dir.file("fifo").c_str(), "application/octet-stream"));
  EXPECT_FALSE(store_text_file(dir.path().c_str(), "text/plain"));
  EXPECT_EQ(gather_file()->NumItems(), 0);
}

TEST_F(Zv2File, LinkPlantedAtTheTemporaryNameIsNeitherFollowedNorRemoved) {
  std::string victim = input("victim", "precious");
  std::string taken = "zelv3" + [] {
    char b[16];
    snprintf(b, sizeof b, "%x", static_cast<unsigned>(getpid()));
    return std::string(b);
  }() + ".tmp";
  ASSERT_EQ(symlink(victim.c_str(), taken.c_str()), 0);
  std::string path = input("b.bin", "data");
  ASSERT_TRUE(store_binary_file(path.c_str(), "application/octet-stream"));
  EXPECT_EQ(item(0), header(path, "application/octet-stream") + "data");
  EXPECT_EQ(zvtest::read_file(victim), "precious");
  struct stat st;
  ASSERT_EQ(lstat(taken.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(leftovers(), std::vector<std::string>{taken});
}

// A racing user swaps a link to a root-only file in at the temporary's name
// after it was written: the container still gets the bytes written.
std::string swap_target;
void swap_in_link(const char* name) {
  ASSERT_EQ(rename(name, "moved.tmp"), 0);
  ASSERT_EQ(symlink(swap_target.c_str(), name), 0);
}

TEST_F(Zv2File, FinishedTemporaryIsReadFromItsOwnDescriptorNotByName) {
  swap_target = input("shadow", "root-only secret");
  std::string path = input("b.bin", "data");
  temp_files_handover_hook = swap_in_link;
  bool stored = store_binary_file(path.c_str(), "application/octet-stream");
  temp_files_handover_hook = nullptr;
  ASSERT_TRUE(stored);
  EXPECT_EQ(item(0), header(path, "application/octet-stream") + "data");
  EXPECT_EQ(zvtest::read_file(swap_target), "root-only secret");
}

TEST_F(Zv2File, TemporariesStillRememberedAreRemovedOnAFatalPath) {
  char name[64];
  FILE* f = create_temporary(name, sizeof name, "zvid1", ".txt", "wb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  FILE* g = open_temp_file(name, sizeof name, 2);
  ASSERT_NE(g, nullptr);
  fclose(g);
  EXPECT_EQ(leftovers().size(), 2u);
  remove_temporaries();
  EXPECT_TRUE(leftovers().empty());
}

/// The postbox task with its status word in view.
class postbox_view : public postbox_task {
 public:
  const char* status_word() const { return ok_text; }
};

TEST_F(Zv2File, PostboxStoresEachRegularFileByItsWholeNameIgnoringCase) {
  zvtest::temp_dir box;
  postbox_view postbox;
  EXPECT_EQ(postbox.add_from_postbox(box.path().c_str(), nullptr), 0);
  EXPECT_STREQ(postbox.status_word(), "0 file(s) added");

  ASSERT_TRUE(zvtest::write_file(box.path(), "NOTES.HTM", "n"));
  ASSERT_TRUE(zvtest::write_file(box.path(), "page.html", "p"));
  ASSERT_TRUE(zvtest::write_file(box.path(), "page.html.bak", "b"));
  ASSERT_TRUE(zvtest::write_file(box.path(), "empty.dgml", ""));  // nothing to code: fails
  ASSERT_TRUE(zvtest::write_file(box.path(), "sub/inner.txt", "i"));
  ASSERT_EQ(symlink(box.file("NOTES.HTM").c_str(), box.file("link.txt").c_str()), 0);
  EXPECT_EQ(postbox.add_from_postbox(box.path().c_str(), nullptr), 3);
  EXPECT_STREQ(postbox.status_word(), "3 file(s) added, 1 file(s) failed");
  // Name order: NOTES.HTM, empty.dgml, page.html, page.html.bak.
  EXPECT_EQ(item(0), header(box.file("NOTES.HTM"), "text/html") + "n");
  EXPECT_EQ(item(1), header(box.file("page.html"), "text/html") + "p");
  EXPECT_EQ(item(2), header(box.file("page.html.bak"), "application/octet-stream") + "b");
  EXPECT_EQ(gather_file()->NumItems(), 3);
}

TEST_F(Zv2File, MissingPostboxFailsTheTask) {
  gatherer_filename(FILENAME_PATH, SETTING_SET, dir.path().c_str());
  postbox_view postbox;
  EXPECT_FALSE(postbox.run(nullptr));
  ASSERT_EQ(mkdir(dir.file("POSTBOX").c_str(), 0700), 0);
  EXPECT_TRUE(postbox.run(nullptr));
  EXPECT_STREQ(postbox.status_word(), "0 file(s) added");
  gatherer_filename(FILENAME_PATH, SETTING_OFF);
}

}  // namespace
