// gthfile_test.cpp - the container file: layout, items, stuffing, damage and faults.

#include "gthfile.h"

#include "zvtest.h"
#include <sys/resource.h>

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Slurp(const std::string& path) {
  std::string s = zvtest::read_file(path);
  return Bytes(s.begin(), s.end());
}

void Spit(const std::string& path, const Bytes& data) {
  ASSERT_TRUE(zvtest::write_file(".", path, std::string(data.begin(), data.end())));
}

Bytes Text(size_t n) {
  Bytes out;
  const char* line = "eth0: link up, 1000 Mb/s full duplex, address 00:11:22:33:44:55\r\n";
  while (out.size() < n) out.insert(out.end(), line, line + strlen(line));
  out.resize(n);
  return out;
}

Bytes Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

// Every test runs in a fresh directory: temporaries go to the current one.
class GthFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(old_cwd_), 0); }
  // A container holding the given files, added in order.
  void Build(const char* path, const std::vector<std::pair<Bytes, bool>>& items) {
    GatherFile g;
    ASSERT_EQ(g.CreateFile(path), 0);
    for (size_t i = 0; i < items.size(); i++) {
      std::string name = "in" + std::to_string(i);
      Spit(name, items[i].first);
      ASSERT_EQ(g.AddItemFile(uint8_t(i == 0 ? 15 : 66), name.c_str(), items[i].second), 0);
      unlink(name.c_str());
    }
    g.CloseFile();
  }
  zvtest::temp_dir dir_;
  char old_cwd_[4096];
};

TEST_F(GthFile, NewContainerIsTheTwentyByteHeaderAndRefusesAnExistingPath) {
  GatherFile g;
  ASSERT_EQ(g.CreateFile("c.zv2"), 0);
  g.CloseFile();
  Bytes b = Slurp("c.zv2");
  ASSERT_EQ(b.size(), 20u);
  EXPECT_EQ(memcmp(b.data(), "_ZELVARN_\0", 10), 0);
  EXPECT_EQ(Bytes(b.begin() + 17, b.end()), (Bytes{0, 2, 0}));
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  EXPECT_EQ(b[15] | b[16] << 8, tm.tm_year + 1900);
  EXPECT_EQ(b[14], tm.tm_mon + 1);

  Spit("taken", Bytes{1, 2, 3});
  EXPECT_EQ(g.CreateFile("taken"), GTH_E_CREATE);
  EXPECT_EQ(Slurp("taken"), (Bytes{1, 2, 3}));
  EXPECT_EQ(g.CreateFile(nullptr), GTH_E_ARG);
}

TEST_F(GthFile, ItemsReadBackAndTheHeaderCountsEachAsItIsAdded) {
  Bytes text = Text(50000), noise = Random(3000, 1), empty;
  GatherFile g;
  ASSERT_EQ(g.CreateFile("c.zv2"), 0);
  Spit("text", text);
  Spit("noise", noise);
  Spit("empty", empty);
  ASSERT_EQ(g.AddItemFile(15, "text", true), 0);
  EXPECT_EQ(Slurp("c.zv2")[19], 1);
  ASSERT_EQ(g.AddItemFile(66, "noise", true), 0);  // does not shrink: stored
  ASSERT_EQ(g.AddItemFile(1, "empty", false), 0);
  EXPECT_EQ(g.AddItemFile(66, "empty", true), GTH_E_CODER);  // nothing to code
  EXPECT_EQ(g.AddItemFile(66, "missing", true), GTH_E_OPEN);
  EXPECT_EQ(Slurp("c.zv2")[19], 3);
  g.CloseFile();

  GatherFile r;
  ASSERT_EQ(r.ReadFile("c.zv2"), 0);
  ASSERT_EQ(r.NumItems(), 3);
  EXPECT_EQ(r.GetItemType(0), 15);
  EXPECT_EQ(r.GetItemType(2), 1);
  EXPECT_EQ(r.GetItemType(-1), 0);
  EXPECT_EQ(r.GetItemType(3), 0);
  gth_item_header h;
  ASSERT_EQ(r.GetItemHeader(0, &h), 0);
  EXPECT_EQ(h.flag, 1);
  EXPECT_LT(h.comp_size, h.orig_size);
  ASSERT_EQ(r.GetItemHeader(1, &h), 0);
  EXPECT_EQ(h.flag, 0);
  EXPECT_EQ(h.comp_size, 0u);
  EXPECT_EQ(h.orig_size, 3000u);

  const Bytes* items[] = {&text, &noise, &empty};
  for (int i = 0; i < 3; i++) {
    std::string out = "out" + std::to_string(i);
    ASSERT_EQ(r.ExtractItem(i, out.c_str()), 0) << i;
    EXPECT_EQ(access(out.c_str(), F_OK), 0);
    EXPECT_EQ(Slurp(out), *items[i]);
    EXPECT_EQ(r.VerifyItem(i), 0);
  }
  ASSERT_EQ(r.ExtractItem(uint8_t(66), "by_type"), 0);
  EXPECT_EQ(Slurp("by_type"), noise);
  EXPECT_EQ(r.ExtractItem(uint8_t(254), "none"), GTH_E_NO_TYPE);
  EXPECT_EQ(r.ExtractItem(3, "none"), GTH_E_ARG);
  EXPECT_EQ(r.ExtractItem(0, "out1"), GTH_E_CREATE);  // never over an existing file
  EXPECT_EQ(Slurp("out1"), noise);
}

TEST_F(GthFile, RefusesTheItemAfter255AndInputsOfFourGibibytesLeavingTheFileAsItWas) {
  GatherFile g;
  ASSERT_EQ(g.CreateFile("c.zv2"), 0);
  FILE* f = fopen("huge", "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(ftruncate(fileno(f), off_t(1) << 32), 0);  // sparse
  fclose(f);
  EXPECT_EQ(g.AddItemFile(66, "huge", false), GTH_E_TOO_LARGE);
  EXPECT_EQ(g.AddItemFile(66, "huge", true), GTH_E_TOO_LARGE);
  EXPECT_EQ(Slurp("c.zv2").size(), 20u);
  Spit("x", Bytes{'x'});
  for (int i = 0; i < 255; i++) ASSERT_EQ(g.AddItemFile(66, "x", false), 0) << i;
  Bytes before = Slurp("c.zv2");
  EXPECT_EQ(g.AddItemFile(66, "x", false), GTH_E_FULL);
  EXPECT_EQ(Slurp("c.zv2"), before);
  EXPECT_EQ(before[19], 255);
}

TEST_F(GthFile, StuffedFormHasNoZeroBytesAndReadsBackTheSame) {
  Bytes text = Text(20000), zeros(5000, 0), ffs(300, 0xFF);
  Build("c.zv2", {{text, true}, {zeros, false}, {ffs, false}});
  GatherFile g;
  ASSERT_EQ(g.RemoveNulls("c.zv2"), 0);
  Bytes s = Slurp("c.zv2");
  EXPECT_EQ(memcmp(s.data(), "_ZELVAFF_\xFF\x01", 11), 0);
  EXPECT_EQ(std::count(s.begin(), s.end(), 0), 0);
  EXPECT_EQ(g.RemoveNulls("c.zv2"), GTH_E_FORMAT);  // stuffed already
  EXPECT_EQ(access("c.zv2.tmp", F_OK), -1);

  GatherFile r;
  ASSERT_EQ(r.OpenReadOnly("c.zv2"), 0);
  EXPECT_TRUE(r.WasStuffed());
  ASSERT_EQ(r.NumItems(), 3);
  const Bytes* items[] = {&text, &zeros, &ffs};
  for (int i = 0; i < 3; i++) {
    std::string out = "out" + std::to_string(i);
    ASSERT_EQ(r.ExtractItem(i, out.c_str()), 0);
    EXPECT_EQ(Slurp(out), *items[i]) << i;
  }
  EXPECT_EQ(Slurp("c.zv2"), s);  // the file keeps its form

  GatherFile u;
  ASSERT_EQ(u.ReadFile("c.zv2"), 0);
  EXPECT_EQ(u.NumItems(), 3);
}

TEST_F(GthFile, RefusesForeignShortAndBadlyStuffedFiles) {
  Build("c.zv2", {{Text(1000), true}});
  GatherFile g;
  ASSERT_EQ(g.RemoveNulls("c.zv2"), 0);
  Bytes stuffed = Slurp("c.zv2"), bad_escape = stuffed, bad_end = stuffed;
  bad_escape[10] = 0x02;    // 0xFF 0x02
  bad_end.push_back(0xFF);  // 0xFF at the end
  const struct {
    const char* name;
    Bytes content;
    int rc;
  } cases[] = {{"foreign", Bytes(40, 'A'), GTH_E_FORMAT},
               {"short", Bytes{'_', 'Z'}, GTH_E_READ},
               {"bad escape", bad_escape, GTH_E_FORMAT},
               {"bad end", bad_end, GTH_E_FORMAT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Spit("f", c.content);
    EXPECT_EQ(g.ReadFile("f"), c.rc);
  }
  EXPECT_EQ(g.ReadFile("missing"), GTH_E_OPEN);
}

TEST_F(GthFile, DamagedItemsAreFoundNeverTrusted) {
  Bytes text = Text(30000);
  Build("c.zv2", {{text, true}, {text, true}});
  Bytes good = Slurp("c.zv2");

  // Cut inside the second item: the first stays readable read-only.
  Spit("cut", Bytes(good.begin(), good.end() - 100));
  GatherFile g;
  EXPECT_EQ(g.ReadFile("cut"), GTH_E_READ);
  EXPECT_EQ(g.NumItems(), 0);
  GatherFile r;
  EXPECT_EQ(r.OpenReadOnly("cut"), GTH_E_READ);
  EXPECT_EQ(r.NumItems(), 1);
  EXPECT_EQ(r.FirstBadItem(), 1);
  EXPECT_EQ(r.HeaderItemCount(), 2);
  EXPECT_EQ(r.VerifyItem(0), 0);

  // A recorded size no stream of that length can produce.
  Bytes big = good;
  big[21] = big[22] = big[23] = 0xFF;
  big[24] = 0x7F;
  Spit("big", big);
  GatherFile b;
  ASSERT_EQ(b.OpenReadOnly("big"), 0);
  EXPECT_EQ(b.ExtractItem(0, "out"), GTH_E_CODER);
  EXPECT_EQ(access("out", F_OK), -1);
  EXPECT_EQ(b.VerifyItem(0), GTH_E_CODER);

  // A stream one byte shorter than recorded runs out of bits.
  gth_item_header h;
  ASSERT_EQ(b.GetItemHeader(1, &h), 0);
  Bytes shorter = good;
  shorter[size_t(h.offset) + 6] = uint8_t(h.comp_size - 1);
  shorter[size_t(h.offset) + 7] = uint8_t((h.comp_size - 1) >> 8);
  Spit("shorter", shorter);
  GatherFile s;
  ASSERT_EQ(s.OpenReadOnly("shorter"), 0);
  EXPECT_EQ(s.TrailingBytes(), 1);
  EXPECT_EQ(s.VerifyItem(0), 0);
  EXPECT_EQ(s.VerifyItem(1), GTH_E_CODER);
}

TEST_F(GthFile, AWriteErrorLeavesTheContainerAsBeforeTheItem) {
  Spit("small", Text(1000));
  Spit("large", Random(400000, 2));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    GatherFile g;
    if (g.CreateFile("c.zv2") != 0 || g.AddItemFile(66, "small", true) != 0) _exit(10);
    struct rlimit rl = {200000, 200000};
    setrlimit(RLIMIT_FSIZE, &rl);
    int stored = g.AddItemFile(66, "large", false);
    int coded = g.AddItemFile(66, "large", true);  // the temporary hits the limit
    _exit(stored == GTH_E_WRITE && (coded == GTH_E_CODER || coded == GTH_E_WRITE) && g.NumItems() == 1 ? 0 : 11);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  GatherFile r;
  ASSERT_EQ(r.OpenReadOnly("c.zv2"), 0);
  EXPECT_EQ(r.NumItems(), 1);
  EXPECT_EQ(r.TrailingBytes(), 0);
  EXPECT_EQ(r.VerifyItem(0), 0);
  // No temporary left behind.
  EXPECT_EQ(system("ls | grep -qi '\\.tmp$'"), 256);
}

TEST_F(GthFile, TemporariesNeverFollowPlantedLinks) {
  Spit("target", Bytes{'k', 'e', 'e', 'p'});
  time_t now = time(nullptr);
  for (int d = 0; d < 5; d++) {
    char name[32];
    snprintf(name, sizeof name, "%lX.tmp", (unsigned long)(now + d));
    ASSERT_EQ(symlink("target", name), 0);
  }
  ASSERT_EQ(symlink("target", "ZVSTAMP.TMP"), 0);
  ASSERT_EQ(symlink("target", "c.zv2.tmp"), 0);

  GatherFile g;
  ASSERT_EQ(g.CreateFile("c.zv2"), 0);
  Spit("text", Text(5000));
  EXPECT_EQ(g.AddItemFile(15, "text", true), 0);
  EXPECT_EQ(g.AddStampInfo("2.44.0282.0809"), 0);
  g.CloseFile();
  EXPECT_EQ(g.RemoveNulls("c.zv2"), 0);

  EXPECT_EQ(Slurp("target"), (Bytes{'k', 'e', 'e', 'p'}));
  for (const char* link : {"ZVSTAMP.TMP", "c.zv2.tmp"}) {
    struct stat st;
    EXPECT_TRUE(lstat(link, &st) == 0 && S_ISLNK(st.st_mode)) << link;
  }
  GatherFile r;
  ASSERT_EQ(r.OpenReadOnly("c.zv2"), 0);
  EXPECT_EQ(r.NumItems(), 2);
  // A container path that is a link is not opened for update.
  ASSERT_EQ(symlink("c.zv2", "link.zv2"), 0);
  EXPECT_EQ(r.ReadFile("link.zv2"), GTH_E_OPEN);
}

TEST_F(GthFile, VersionStampRecordKeepsSixtyFourCharactersUnterminated) {
  GatherFile g;
  EXPECT_EQ(g.AddStampInfo("1.0"), GTH_E_ARG);  // the add's result, no container open
  ASSERT_EQ(g.CreateFile("c.zv2"), 0);
  std::string version(64, 'v');
  ASSERT_EQ(g.AddStampInfo(version.c_str()), 0);
  ASSERT_EQ(g.ExtractItem(uint8_t(16), "stamp"), 0);
  Bytes rec = Slurp("stamp");
  ASSERT_EQ(rec.size(), 76u);
  EXPECT_EQ(rec[0], 76);
  EXPECT_EQ(rec[4], 1);
  EXPECT_EQ(std::string(rec.begin() + 12, rec.end()), version);
  EXPECT_EQ(access("ZVSTAMP.TMP", F_OK), -1);
}

}  // namespace
