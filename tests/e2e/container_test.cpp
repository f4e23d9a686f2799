// container_test.cpp - what a run leaves behind: one container with the
// identification block, version stamp and report, or the loose report, and
// nothing else; the console lines and exit status that go with it; and runs
// where a name is taken or the disk refuses the report.
#include "zvtest.h"
#include <sys/mount.h>
#include <sys/resource.h>

#include <cctype>

#include "gthfile.h"
#include "report_check.h"

namespace {

using zvtest::run_result;
using names = std::vector<std::string>;

/// The console line of a task: its name padded with dots, then the status.
std::string line(const std::string& task, const std::string& status) {
  std::string field = task + " ";
  field.resize(40, '.');
  return field + " " + status + "\n";
}

/// Expects every piece somewhere in the console text.
void expect_shown(const std::string& err, const names& pieces) {
  for (const std::string& p : pieces) EXPECT_NE(err.find(p), std::string::npos) << p << "\n" << err;
}

class ContainerE2E : public ::testing::Test {
 protected:
  run_result run(std::vector<std::string> args) {
    args.insert(args.begin(), {"-batch", "-sysroot", root.path()});
    run_result r = zvtest::run(args, cwd.path());
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0) << r.err;
    return r;
  }
  names files() { return zvtest::list_dir(cwd.path()); }
  /// The items of a container: types in file order, data of each.
  struct item {
    int type;
    std::string data;
  };
  std::vector<item> items(const std::string& name) {
    std::vector<item> out;
    GatherFile g;
    EXPECT_EQ(g.OpenReadOnly(cwd.file(name).c_str()), 0) << name;
    for (int i = 0; i < g.NumItems(); ++i) {
      std::string path = scratch.file("item" + std::to_string(i));
      unlink(path.c_str());
      EXPECT_EQ(g.ExtractItem(i, path.c_str()), 0);
      out.push_back({g.GetItemType(i), zvtest::read_file(path)});
    }
    g.CloseFile();
    return out;
  }
  zvtest::temp_dir cwd;
  zvtest::temp_dir scratch;
  zvtest::fixture_root root;
};

TEST_F(ContainerE2E, BatchRunLeavesExactlyOneContainerWithIdStampAndReport) {
  run_result r = run({});
  EXPECT_EQ(r.status, 0) << r.err;
  names listed = files();
  ASSERT_EQ(listed.size(), 1u) << r.err;
  const std::string& box = listed[0];
  EXPECT_EQ(box.substr(box.size() - 4), ".ZV2");
  EXPECT_EQ(std::count(box.begin(), box.end(), '-'), 2) << box;  // vendor-model-serial
  expect_shown(r.err, {line("Create XML Output File", "OK"), line("Create Gatherer File", "OK"),
                       line("Close XML Output File", "OK"), line("Close Gatherer File", box),
                       "Run complete, rc = 0\n"});

  std::vector<item> it = items(box);
  ASSERT_EQ(it.size(), 3u);
  EXPECT_EQ(std::vector<int>({it[0].type, it[1].type, it[2].type}), std::vector<int>({1, 16, 15}));
  // Eight lines, one per letter in this order; the time is "YYYYMMDD-hhmmss".
  names lines;
  for (size_t at = 0, nl; (nl = it[0].data.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(it[0].data.substr(at, nl - at));
  ASSERT_EQ(lines.size(), 8u) << it[0].data;
  EXPECT_EQ(it[0].data.back(), '\n');
  for (size_t i = 0; i < 8; i++) EXPECT_EQ(lines[i][0], "CVMSUTLK"[i]) << it[0].data;
  ASSERT_EQ(lines[5].size(), 16u);
  for (size_t i = 1; i < 16; i++)
    EXPECT_TRUE(i == 9 ? lines[5][i] == '-' : isdigit((unsigned char)lines[5][i])) << lines[5];
  EXPECT_EQ(lines[7], "K");
  ASSERT_EQ(it[1].data.size(), 76u);
  EXPECT_EQ(it[1].data.substr(12, 14), "2.44.0282.0809");
  const std::string& report = it[2].data;
  EXPECT_NE(report.find("<GATHERED_DATA>\r\n<GATHERER_VERSION>2.44.0282.0809</GATHERER_VERSION>"),
            std::string::npos);
  const std::string tail = "</CHK>\r\n</GATHERED_DATA>\r\n";
  ASSERT_GT(report.size(), tail.size() + 13);
  EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
  const std::string chk = report.substr(report.size() - tail.size() - 13, 13);
  EXPECT_EQ(chk.substr(0, 5), "<CHK>");
  EXPECT_EQ(chk.find_first_not_of(" 0123456789ABCDEF", 5), std::string::npos) << chk;
  if (have_xml_parser()) {
    zvml_check_result c = check_zvml(report);
    EXPECT_TRUE(c.parsed) << c.error;
    EXPECT_TRUE(c.mismatches.empty());
  }
}

TEST_F(ContainerE2E, LocalHtmlTextAndStdoutRunsLeaveTheirOwnOutput) {
  run_result r = run({"-local", "-filename", "site-@K"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files(), names{"site-.XML"});
  expect_shown(r.err, {line("Close XML Output File", "site-.XML")});
  EXPECT_EQ(r.err.find("Gatherer File"), std::string::npos);
  EXPECT_NE(zvtest::read_file(cwd.file("site-.XML")).find("</GATHERED_DATA>"), std::string::npos);
  unlink(cwd.file("site-.XML").c_str());

  r = run({"-html", "-filename", "site"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files(), names{"site.HTML"});
  std::string html = zvtest::read_file(cwd.file("site.HTML"));
  EXPECT_EQ(html.rfind("<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                       "<title>Zelvarn Output</title>\n", 0), 0u);
  EXPECT_EQ(html.substr(html.size() - 7), "</body>");
  expect_shown(r.err, {line("Close HTML Output File", "site.HTML")});
  unlink(cwd.file("site.HTML").c_str());

  r = run({"-text", "-filename", "site"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files(), names{"site.GTH"});
  std::vector<item> it = items("site.GTH");
  ASSERT_EQ(it.size(), 3u);
  EXPECT_EQ(it[2].type, 254);
  EXPECT_EQ(it[2].data.rfind("\nHalvex Technical Support Information Gatherer\n", 0), 0u);
  expect_shown(r.err, {line("Close Gatherer File", "site.GTH")});
  unlink(cwd.file("site.GTH").c_str());

  // Standard output: no report file, no frame and no container.
  r = run({"-stdout", "-filename", "site"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_shown(r.err, {line("Output to stdout", "OK")});
  EXPECT_EQ(r.err.find("Output File"), std::string::npos);
  EXPECT_EQ(r.err.find("Gatherer File"), std::string::npos);
  EXPECT_EQ(r.out.find("<?xml"), std::string::npos);
  EXPECT_EQ(files(), names{});
}

TEST_F(ContainerE2E, ImportedFilesGoInWithoutReport) {
  ASSERT_TRUE(zvtest::write_file(scratch.path(), "f.xml", "<a>1</a>\n"));
  ASSERT_TRUE(zvtest::write_file(scratch.path(), "f.dgml", "dgml"));
  run_result r = run({"-filename", "site", "-xmlfile", scratch.file("f.xml"), "-dgmlfile",
                      scratch.file("f.dgml"), "halvex/sysevent", "-textfile"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_shown(r.err, {"Filename expected after -textfile parameter\n"});
  EXPECT_EQ(r.err.find("Output File"), std::string::npos);  // level 0: no report
  EXPECT_EQ(files(), names{"site.ZV2"});
  std::vector<item> it = items("site.ZV2");
  ASSERT_EQ(it.size(), 4u);
  EXPECT_EQ(it[2].type, 66);
  EXPECT_EQ(it[2].data, "Filename: " + scratch.file("f.xml") + "\nMIME-Type: text/xml\n\n<a>1</a>\n");
  EXPECT_EQ(it[3].type, 13);
  EXPECT_EQ(it[3].data, "dgml");
}

TEST_F(ContainerE2E, ImportThatFailsSaysWhyAndFailsTheRun) {
  ASSERT_TRUE(zvtest::write_file(scratch.path(), "f.xml", "<a/>"));
  const struct {
    std::vector<std::string> args;
    const char* status;
  } cases[] = {
      {{"-binaryfile", scratch.file("absent")}, "Not found"},
      {{"-textfile", scratch.path()}, "Not a regular file"},
      {{"-local", "-xmlfile", scratch.file("f.xml")}, "Not imported: no container in this mode"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    run_result r = run(c.args);
    EXPECT_EQ(r.status, 1);
    expect_shown(r.err, {std::string(" ") + c.status + "\n", "Run complete, rc = 1\n"});
  }
}

TEST_F(ContainerE2E, LinksPlantedAtFinalNamesAreNotFollowed) {
  ASSERT_TRUE(zvtest::write_file(scratch.path(), "victim", "precious"));
  ASSERT_EQ(symlink(scratch.file("victim").c_str(), cwd.file("site.ZV2").c_str()), 0);
  ASSERT_EQ(symlink(scratch.file("victim").c_str(), cwd.file("site.XML").c_str()), 0);

  run_result r = run({"-filename", "site"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(zvtest::read_file(scratch.file("victim")), "precious");
  EXPECT_EQ(r.err.find(line("Create Gatherer File", "OK")), std::string::npos) << r.err;
  // The report could not go into a container: it is kept as in local mode,
  // except that its final name is taken too, so it stays under its temporary name.
  expect_shown(r.err, {"Close XML Output File .................. File exists, kept as zelva",
                       "Run complete, rc = 1\n"});

  EXPECT_EQ(run({"-filename", "site", "-local"}).status, 1);
  EXPECT_EQ(zvtest::read_file(scratch.file("victim")), "precious");
  struct stat st;
  ASSERT_EQ(lstat(cwd.file("site.XML").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ContainerE2E, ContainerOfAnEarlierRunIsReplacedButADirectoryIsNot) {
  ASSERT_TRUE(zvtest::write_file(cwd.path(), "site.ZV2", "old run"));
  run_result r = run({"-filename", "site"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(items("site.ZV2").size(), 3u);

  ASSERT_EQ(mkdir(cwd.file("other.ZV2").c_str(), 0700), 0);
  r = run({"-filename", "other"});
  EXPECT_EQ(r.status, 1);
  expect_shown(r.err, {line("Close XML Output File", "Not stored in container, saved as other.XML")});
  EXPECT_TRUE(zvtest::file_exists(cwd.file("other.XML")));
}

TEST_F(ContainerE2E, RefusesAnImportThatIsNotWellFormedSoTheReportVerifies) {
  std::string bad = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<A>]]></GATHERED_DATA><!-- </A>\n";
  ASSERT_TRUE(zvtest::write_file(scratch.path(), "bad.xml", bad));
  run_result r = run({"-filename", "site", "-zvmlfile", scratch.file("bad.xml")});
  expect_shown(r.err, {"Not well-formed: "});
  std::vector<item> it = items("site.ZV2");
  ASSERT_EQ(it.size(), 3u) << r.err;
  zvml_check_result c = check_zvml(it[2].data);
  EXPECT_TRUE(c.parsed && c.mismatches.empty()) << c.error;
}

TEST_F(ContainerE2E, ReportThatCannotBeWrittenWholeFailsTheRun) {
  // A report much larger than the file size limit: an imported report.
  std::string big = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BIG>" + std::string(200000, 'x') + "</BIG>\n";
  ASSERT_TRUE(zvtest::write_file(scratch.path(), "big.xml", big));
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = {65536, saved.rlim_max};
  // The limit and the ignored signal are inherited by the program; a write
  // past the limit then fails with EFBIG.
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  run_result r = run({"-filename", "site", "-zvmlfile", scratch.file("big.xml")});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);

  EXPECT_EQ(r.status, 1);
  // The incomplete container never takes the final name; it stays under its
  // temporary name, which the console gives.
  names left = files();
  ASSERT_EQ(left.size(), 1u);  // no report, no other temporary
  EXPECT_EQ(left[0].rfind("site.ZV2.", 0), 0u) << left[0];
  expect_shown(r.err, {line("Close XML Output File", "Report incomplete, not kept: File too large"),
                       line("Close Gatherer File", "Incomplete, kept as " + left[0]), "Run complete, rc = 1\n"});
  EXPECT_EQ(items(left[0]).size(), 2u);
  // The tool that checks containers calls it incomplete: it has no report.
  run_result v = zvtest::run_zv2tool({"verify", left[0]}, cwd.path());
  EXPECT_EQ(v.status, 1);
  EXPECT_NE(v.err.find("incomplete: no report item among 2 items"), std::string::npos) << v.err;
}

// A full disk at any point of a run leaves the complete container of an
// earlier run under its name as it was; whatever is left of the failed run
// lies under a temporary name the console gives.
TEST_F(ContainerE2E, FullDiskNeverReplacesAnEarlierContainer) {
  std::string mnt = scratch.file("small");
  ASSERT_EQ(mkdir(mnt.c_str(), 0700), 0);
  if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "cannot mount a small file system here: " << strerror(errno);
  struct unmount {
    std::string path;
    ~unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmounted_at_end{mnt};
  // An imported file that does not compress makes the container large
  // enough for a disk to fill in the middle of an item.
  std::string noise(256 * 1024, '\0');
  unsigned seed = 1;
  for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
  ASSERT_TRUE(zvtest::write_file(scratch.path(), "noise.bin", noise));
  auto run_in = [&](const std::string& dir) {
    return zvtest::run({"-batch", "-sysroot", root.path(), "-filename", "site", "-probe", "TIME_ZONE",
                        "-binaryfile", scratch.file("noise.bin")},
                       dir);
  };
  run_result first = run_in(mnt);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string box = mnt + "/site.ZV2";
  const std::string good = zvtest::read_file(box);
  ASSERT_FALSE(good.empty());
  // Free space left after the filler, as a part of what the earlier run
  // needed: none at all, less than the identification block, and on into the
  // report and its container item.
  for (double part : {0.0, 0.1, 0.3, 0.6, 0.9}) {
    size_t left = static_cast<size_t>(part * good.size());
    SCOPED_TRACE("free " + std::to_string(left));
    std::string filler = mnt + "/filler";
    {
      FILE* f = fopen(filler.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::string block(4096, 'x');
      while (fwrite(block.data(), 1, block.size(), f) == block.size() && fflush(f) == 0) {
      }
      fclose(f);
      struct stat st;
      ASSERT_EQ(stat(filler.c_str(), &st), 0);
      ASSERT_EQ(truncate(filler.c_str(), st.st_size > static_cast<off_t>(left) ? st.st_size - left : 0), 0);
    }
    run_result r = run_in(mnt);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(zvtest::read_file(box) == good) << r.err;
    // The console says what became of this run's container.
    bool said = false;
    const names ways = {"Incomplete, kept as site.ZV2.", "unfinished files of this run are removed",
                        line("Create Gatherer File", "Cannot create file")};
    for (const std::string& words : ways)
      said = said || r.err.find(words) != std::string::npos;
    EXPECT_TRUE(said) << r.err;
    unlink(filler.c_str());
    for (const std::string& name : zvtest::list_dir(mnt)) {
      if (name == "site.ZV2") continue;
      EXPECT_NE(r.err.find("kept as " + name), std::string::npos) << name << "\n" << r.err;
      unlink((mnt + "/" + name).c_str());
    }
  }
}

}  // namespace
