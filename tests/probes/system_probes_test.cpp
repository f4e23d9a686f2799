// system_probes_test.cpp - the locale, display, browser and storage probes:
// their line parsers from a case table, and each table written from a
// fixture system root or a real tool (an ext4 image, an X server).
#include "zvtest.h"
#include <sys/statvfs.h>

#include "browser.h"
#include "display_linux.h"
#include "fs_linux.h"
#include "regional_linux.h"
#include "report_check.h"
#include "report_fixture.h"
#include "smbios_root.h"
#include "sysroot.h"

namespace {

using rows = std::vector<std::vector<std::string>>;
const std::string fixtures = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/system_probes/";

rows table_file(const std::string& name) { return zvtest::tsv_rows(fixtures + name); }

using zvtest::scoped_env;

class scoped_root {
 public:
  explicit scoped_root(const std::string& dir) { sysroot_set(dir.c_str()); }
  ~scoped_root() { sysroot_set(nullptr); }
};

/// The rows of one table written by `write` in the text form.
template <class F>
rows written(const char* title, F write) {
  mem_stream out;
  Table::set_output_format(OUTPUT_TEXT);
  write(out.get());
  fflush(out.get());
  return smbios_test::text_table(out.text(), title);
}

/// Compares rows with expected rows in which "*" matches any cell.
void expect_rows(const rows& got, const rows& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t r = 0; r < want.size(); ++r) {
    ASSERT_EQ(got[r].size(), want[r].size()) << what << " row " << r;
    for (size_t c = 0; c < want[r].size(); ++c)
      if (want[r][c] != "*") {
        EXPECT_EQ(got[r][c], want[r][c]) << what << " row " << r << " column " << c;
      }
  }
}

std::string run_text(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "";
  std::string out = zvtest::read_stream(p);
  pclose(p);
  return out;
}

/// What one parser makes of one line, in the form of the case table.
std::string parsed(const std::string& family, const std::string& arg, const std::string& line) {
  if (family == "rc") {
    size_t colon = arg.rfind(':');
    int length = std::stoi(arg.substr(colon + 1));
    char value[64];
    return rcfile_line_value(line.c_str(), arg.substr(0, colon).c_str(), value, length) ? value : "-";
  }
  display_mode m;
  if (family == "xrandr") {
    parse_xrandr_line(line, m);
    return m.width < 0 ? "-" : std::to_string(m.width) + " " + std::to_string(m.height) + " " + std::to_string(m.refresh);
  }
  if (family == "xdpyinfo") {
    parse_xdpyinfo_line(line, m);
    return m.depth < 0 ? "-" : std::to_string(m.depth);
  }
  partition_record p;
  if (family == "partition")
    return parse_partition_line(line, p) ? std::string(p.name) + " " + std::to_string(p.blocks) + " " +
                                               std::to_string(p.major) + " " + std::to_string(p.minor)
                                         : "-";
  if (family == "name") return valid_partition_name(line.c_str()) ? "valid" : "invalid";
  clear_partition(p);
  parse_tune2fs_line(line, p);
  const std::pair<const char*, std::string> fields[] = {
      {"features", p.features},   {"state", p.state}, {"errors", p.errors}, {"last_mount", p.last_mount},
      {"mount_count", p.mount_count ? std::to_string(p.mount_count) : ""},
      {"max_mount_count", p.max_mount_count ? std::to_string(p.max_mount_count) : ""},
      {"block_size", p.block_size ? std::to_string(p.block_size) : ""},
      {"inode_size", p.inode_size ? std::to_string(p.inode_size) : ""}};
  std::string set;
  for (const auto& f : fields)
    if (!f.second.empty()) set += (set.empty() ? "" : ";") + std::string(f.first) + "=" + f.second;
  return set.empty() ? "-" : set;
}

}  // namespace

TEST(SystemProbeLines, EachParserTakesWhatTheCaseTableSays) {
  rows cases = table_file("lines.tsv");
  ASSERT_GT(cases.size(), 40u);
  for (const auto& c : cases) {
    ASSERT_EQ(c.size(), 4u) << c[0];
    std::string line = c[2];
    for (size_t at; (at = line.find("\\t")) != std::string::npos;) line.replace(at, 2, "\t");
    EXPECT_EQ(parsed(c[0], c[1], line), c[3]) << c[0] << " '" << c[2] << "'";
  }
}

TEST(FilesystemSpace, SizesAre64BitAndUsedCountsReservedBlocksAsFree) {
  struct {
    unsigned long frsize, bsize;
    unsigned long long blocks, bfree;
    const char *capacity, *free_text, *used_text;
    uint64_t total, free_bytes, used;
  } cases[] = {
      {4096, 4096, 1000, 250, "3.9 MB", "1000.0 KB", "2.9 MB", 4096000, 1024000, 3072000},
      {0, 1024, 2147483648ULL, 0, "2.0 TB", "0 bytes", "2.0 TB", 1ULL << 41, 0, 1ULL << 41},
      {4096, 4096, 1ULL << 32, 1ULL << 31, "16.0 TB", "8.0 TB", "8.0 TB", 1ULL << 44, 1ULL << 43, 1ULL << 43},
      {512, 4096, 10, 20, "5.0 KB", "10.0 KB", "0 bytes", 5120, 10240, 0},
  };
  for (const auto& c : cases) {
    struct statvfs st = {};
    st.f_frsize = c.frsize;
    st.f_bsize = c.bsize;
    st.f_blocks = c.blocks;
    st.f_bfree = c.bfree;
    st.f_bavail = c.bfree / 2;  // half of it reserved for the superuser
    filesystem_space s = space_of(st);
    EXPECT_EQ(s.available, c.free_bytes / 2);
    EXPECT_EQ(s.total, c.total);
    EXPECT_EQ(s.free, c.free_bytes);
    EXPECT_EQ(s.used, c.used);
    EXPECT_EQ(capacity_text(s.total), c.capacity);
    EXPECT_EQ(capacity_text(s.free), c.free_text);
    EXPECT_EQ(capacity_text(s.used), c.used_text);
  }
}

class SystemProbeTables : public ReportWriterTest {};

TEST_F(SystemProbeTables, MountTablesWithOddOptionsGiveTheExpectedRows) {
  for (const char* sample : {"mtab", "fstab"}) {
    zvtest::fixture_root root;
    root.add("/etc/mtab", zvtest::read_file(fixtures + sample));
    scoped_root in(root.path());
    rows got = written("Mounted Filesystems", [](FILE* f) { EXPECT_EQ(get_mounted_filesystems(f), 1); });
    expect_rows(got, table_file(std::string(sample) + ".expected"), sample);
  }
  // No mount table: no table, result 0.
  zvtest::fixture_root empty;
  scoped_root in(empty.path());
  EXPECT_TRUE(written("Mounted Filesystems", [](FILE* f) { EXPECT_EQ(get_mounted_filesystems(f), 0); }).empty());
}

TEST_F(SystemProbeTables, PartitionsAreReadWithTheToolExceptDrivesThatWouldWaitAndUnsafeNames) {
  if (access("/sbin/mkfs.ext4", X_OK) != 0 && access("/usr/sbin/mkfs.ext4", X_OK) != 0)
    GTEST_SKIP() << "mkfs.ext4 is not installed";
  zvtest::fixture_root root;
  root.add("/proc/partitions", zvtest::read_file(fixtures + "partitions"));
  root.add("/dev/sdz2", std::string(65536, '\0'));
  std::string image = root.path() + "/dev/sdz1";
  ASSERT_EQ(system(("truncate -s 8M " + image + " && PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F -L zvtest " +
                    image + " >/dev/null 2>&1").c_str()),
            0);
  // The same image where an optical drive and a floppy stand: never asked.
  for (const char* drive : {"/dev/sr0", "/dev/fd0"})
    ASSERT_EQ(system(("cp " + image + " " + root.path() + drive).c_str()), 0);
  std::string tool = run_text("PATH=$PATH:/sbin:/usr/sbin tune2fs -l " + image + " 2>/dev/null");
  auto value = [&tool](const std::string& prefix) {
    size_t at = tool.find("\n" + prefix);
    if (at == std::string::npos) return std::string();
    at = tool.find_first_not_of(" \t", at + 1 + prefix.size());
    std::string v = tool.substr(at, tool.find('\n', at) - at);
    return v.substr(0, v.find_last_not_of(' ') + 1);
  };
  std::vector<std::string> ext4 = {value("Filesystem features:").substr(0, 128), value("Filesystem state:"),
                                   value("Errors behavior:"), value("Last mount time:"), value("Mount count:"),
                                   value("Maximum mount count:"), value("Block size:"), value("Inode size:")};
  ASSERT_FALSE(ext4[0].empty()) << tool;
  std::vector<std::string> none = {"", "", "", "", "0", "0", "0", "0"};

  rows want;
  for (auto row : table_file("partitions.expected")) {
    std::string fs = row.back();
    row.pop_back();
    for (const std::string& cell : fs == "ext4" ? ext4 : none) row.push_back(cell);
    want.push_back(row);
  }
  zvtest::temp_dir cwd;
  char old_cwd[4096];
  ASSERT_TRUE(getcwd(old_cwd, sizeof old_cwd));
  ASSERT_EQ(chdir(cwd.path().c_str()), 0);
  rows got;
  {
    scoped_env path("PATH", (std::string(getenv("PATH")) + ":/sbin:/usr/sbin").c_str());
    scoped_root in(root.path());
    got = written("Partition Details", [](FILE* f) { get_partition_details(f); });
  }
  EXPECT_EQ(chdir(old_cwd), 0);
  expect_rows(got, want, "partitions");
  EXPECT_TRUE(zvtest::list_dir(cwd.path()).empty()) << "a partition name reached a command";
}

TEST_F(SystemProbeTables, LocaleRowsFollowTheFilesTheEnvironmentAndWhatTheLibraryAccepts) {
  zvtest::fixture_root with_files, language_only, none, debian, locale_conf, german;
  // Under a root the root's locale source file names language and country.
  german.add("/etc/default/locale", "LANG=de_DE.UTF-8\n");
  german.add("/home/zv/.profile", "export LANG=de_DE.utf8@euro\n");
  german.add("/usr/share/i18n/locales/de_DE",
             "comment_char #\nLC_IDENTIFICATION\n# language \"Klingon\"\n"
             "language \"German\"\nterritory \"Deutschl<U00E4>nd\"\nEND LC_IDENTIFICATION\n");
  with_files.add("/etc/sysconfig/i18n", "# system\nSYSFONT=latarcyrheb\nLANG=\"C.UTF-8\"\n");
  with_files.add("/etc/default/locale", "LANG=C\n");  // the legacy file wins
  debian.add("/etc/default/locale", "#  File generated by update-locale\nLANG=\"C.UTF-8\"\n");
  locale_conf.add("/etc/locale.conf", "LC_TIME=C.UTF-8\nLANG=C\n");
  language_only.add("/etc/sysconfig/language", "RC_LANG=\"C.UTF-8\"\nRC_LANG=C\n");
  // The current user's files are read inside the root; the thread's locale
  // (the running program's) is not stated under a root.
  with_files.add("/home/zv/.profile", "PATH=$PATH:~/bin\nexport  LANG=C\n");
  ASSERT_EQ(mkfifo((with_files.path() + "/home/zv/.i18n").c_str(), 0600), 0);  // must not hang the reader
  zvtest::temp_dir home;  // the running machine's: never read
  zvtest::write_file(home.path(), ".profile", "export LANG=xx_YY.no-such-codeset\n");
  const std::string in_root = "/home/zv", empty_home = "/home/nobody";
  struct {
    const zvtest::fixture_root* root;
    const char* home;
    const char* lang;
    rows want;
  } cases[] = {
      {&with_files, in_root.c_str(), "xx_YY.no-such-codeset",
       {{"System Default", "C.UTF-8", "*", "*", "UTF-8"}, {"Current User", "C", "*", "*", "ANSI_X3.4-1968"}}},
      {&with_files, home.path().c_str(), "C",
       {{"System Default", "C.UTF-8", "*", "*", "UTF-8"}, {"Current User", "C.UTF-8", "*", "*", "UTF-8"}}},
      {&language_only, empty_home.c_str(), "C",
       {{"System Default", "C.UTF-8", "*", "*", "UTF-8"}, {"Current User", "C.UTF-8", "*", "*", "UTF-8"}}},
      {&debian, empty_home.c_str(), "C",
       {{"System Default", "C.UTF-8", "*", "*", "UTF-8"}, {"Current User", "C.UTF-8", "*", "*", "UTF-8"}}},
      {&locale_conf, empty_home.c_str(), "C",
       {{"System Default", "C", "*", "*", "ANSI_X3.4-1968"}, {"Current User", "C", "*", "*", "ANSI_X3.4-1968"}}},
      {&german, in_root.c_str(), "C",
       {{"System Default", "de_DE.UTF-8", "German", "Deutschl\xc3\xa4nd", "UTF-8"},
        {"Current User", "de_DE.utf8@euro", "German", "Deutschl\xc3\xa4nd", "UTF-8"}}},
      {&debian, in_root.c_str(), "C",  // no locale source file
       {{"System Default", "C.UTF-8", "Unknown", "Unknown", "UTF-8"},
        {"Current User", "C.UTF-8", "Unknown", "Unknown", "UTF-8"}}},
      {&none, nullptr, nullptr,
       {{"System Default", "Unknown", "Unknown", "Unknown", "Unknown"},
        {"Current User", "Unknown", "Unknown", "Unknown", "Unknown"}}},
  };
  for (const auto& c : cases) {
    scoped_root in(c.root->path());
    scoped_env home_env("HOME", c.home), lang_env("LANG", c.lang);
    expect_rows(written("Locale", [](FILE* f) { get_locale_info(f); }), c.want, c.lang ? c.lang : "LANG unset");
  }
  setlocale(LC_ALL, "C.UTF-8");
}

TEST_F(SystemProbeTables, BrowsersAreFoundOnThePathAndListedOncePerExecutable) {
  zvtest::temp_dir bin;
  zvtest::write_file(bin.path(), "firefox",
                     "#!/bin/sh\necho 'Mozilla Firefox 115.3.0esr'\n");
  zvtest::write_file(bin.path(), "lynx", "#!/bin/sh\necho 'Lynx Version 2.9.0dev.12 (01 Mar 2023)'\necho 'libwww-FM 2.14'\n");
  zvtest::write_file(bin.path(), "elinks", "#!/bin/sh\necho 'no version here'\n");
  zvtest::write_file(bin.path(), "we'ird", "#!/bin/sh\necho \"we'ird 1.0\"\n");
  for (const char* f : {"firefox", "lynx", "elinks", "we'ird"}) chmod(bin.file(f).c_str(), 0755);
  ASSERT_EQ(symlink("firefox", bin.file("mozilla-firefox").c_str()), 0);
  scoped_env path("PATH", (bin.path() + ":/usr/bin:/bin").c_str());
  browser_record records[] = {{"lynx", "lynx", nullptr},
                              {"firefox", "Mozilla Firefox", nullptr},
                              {"mozilla-firefox", "Mozilla Firefox", nullptr},
                              {"elinks", "ELinks", nullptr},
                              {"no-such-browser", "None", nullptr},
                              {"we'ird", "Weird", nullptr},
                              {nullptr, nullptr, nullptr}};
  EXPECT_EQ(resolve_browsers(records), 5);
  ASSERT_TRUE(records[1].path && records[2].path);
  EXPECT_STREQ(records[1].path, records[2].path);
  rows got = written("Installed Browsers", [&records](FILE* f) { write_browsers(f, records); });
  expect_rows(got, {{"lynx", "2.9.0dev.12"}, {"Mozilla Firefox", "115.3.0esr"}, {"Weird", "1.0"}}, "browsers");
  release_browsers(records);
}

TEST_F(SystemProbeTables, DisplayModeOfARealXServerAtTwoScreenSizes) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed: the display probe is not checked";
  for (const char* screen : {"1024x768x24", "800x600x16"}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0), dup2(null, 1), dup2(null, 2);
      // The server picks a free display number and writes it to the pipe.
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-screen", "0", screen,
            "-nolisten", "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    rows got;
    if (!number.empty()) {
      scoped_env display("DISPLAY", (":" + number).c_str());
      got = written("Display Settings", [](FILE* f) {
        probe_group group("Display test", 99, "Display test", false);
        display_probe d(&group);
        EXPECT_TRUE(d.test());
        d.run(f);
      });
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    std::vector<std::string> size = zvtest::split(screen, 'x');
    expect_rows(got, {{size[0], size[1], size[2], "0"}}, screen);
  }
}
