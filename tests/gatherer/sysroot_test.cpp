// sysroot_test.cpp - the system root, safe file opening and shell commands.
#include "zvtest.h"

#include <sys/sysmacros.h>

#include "platform_paths.h"
#include "run_command.h"
#include "safe_file.h"
#include "sysroot.h"

namespace {

class Files : public ::testing::Test {
 protected:
  void TearDown() override { sysroot_set(nullptr); }
  /// Writes a file under the directory (making directories on the way).
  std::string write(const std::string& name, const std::string& text) {
    zvtest::write_file(dir, name, text);
    return dir + "/" + name;
  }
  static std::string read(const std::string& path) { return zvtest::read_file(path); }
  static std::string slurp(FILE* f) { return zvtest::read_stream(f); }
  zvtest::temp_dir tmp;
  const std::string& dir = tmp.path();
};

TEST_F(Files, PrefixesPlatformPathsWithTheRoot) {
  EXPECT_FALSE(sysroot_is_set());
  EXPECT_EQ(sysroot_display_path("/etc/issue"), "/etc/issue");
  sysroot_set("/captured/tree//");
  EXPECT_TRUE(sysroot_is_set());
  EXPECT_STREQ(sysroot_get(), "/captured/tree");
  EXPECT_EQ(sysroot_display_path("/etc/issue"), "/captured/tree/etc/issue");
  sysroot_set("/");
  EXPECT_FALSE(sysroot_is_set());
  EXPECT_STREQ(sysroot_get(), "");
}

TEST_F(Files, ReadsRegularPlatformFilesUnderTheRoot) {
  write("etc/issue", "Welcome\n");
  sysroot_set(dir.c_str());
  FILE* f = sys_fopen(platform_path::issue, "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(slurp(f), "Welcome\n");
  fclose(f);
  struct stat st;
  EXPECT_EQ(sys_stat(platform_path::issue, &st), 0);
  EXPECT_EQ(sys_access(platform_path::issue, R_OK), 0);
  EXPECT_EQ(sys_fopen(platform_path::os_release, "r"), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(Files, RefusesFifosAndDirectoriesWithoutBlockingAndReadsReleaseFilesUpToABound) {
  ASSERT_EQ(mkdir((dir + "/etc").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir + "/dev").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((dir + "/etc/issue").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir + "/dev/mem").c_str(), 0600), 0);
  std::string huge = write("etc/os-release", "");
  ASSERT_EQ(truncate(huge.c_str(), 1LL << 30), 0);  // sparse: no line end for 1 GiB
  sysroot_set(dir.c_str());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sys_open(platform_path::dev_mem, O_RDONLY), -1);
  EXPECT_EQ(errno, EINVAL);
  FILE* bounded = sys_fopen_bounded(platform_path::os_release);
  ASSERT_NE(bounded, nullptr);
  EXPECT_EQ(slurp(bounded).size(), 65536u);
  fclose(bounded);
  EXPECT_EQ(sys_fopen(platform_path::issue, "r"), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(open_regular_file(dir.c_str(), "r"), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(open_regular_file("/dev/null", "rb"), nullptr);
}

TEST_F(Files, OpensTheMemoryDeviceWithoutTheRegularFileRule) {
  write("dev/mem", std::string(4096, '\x5a'));
  sysroot_set(dir.c_str());
  int fd = sys_open(platform_path::dev_mem, O_RDONLY);
  ASSERT_GE(fd, 0);
  char c = 0;
  EXPECT_EQ(::read(fd, &c, 1), 1);
  EXPECT_EQ(c, '\x5a');
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  close(fd);
}

// Links and ".." inside a captured tree resolve inside it, never on the live
// machine: each path is read through the kernel's resolution and through the
// component walk, which must agree.
TEST_F(Files, ResolvesEveryPathInsideTheRoot) {
  write("outside/secret", "live machine");
  const std::string root = dir + "/root";
  write("root/usr/lib/os-release", "inside");
  write("root/outside/.keep", "");
  const struct {
    const char* link;
    std::string target;
  } links[] = {
      {"etc/os-release", "/usr/lib/os-release"},     {"etc/relative", "../usr/lib/os-release"},
      {"etc/climb", "../../../../usr/lib/os-release"}, {"etc/escape", "../../outside/secret"},
      {"etc/absolute", dir + "/outside/secret"},    {"etc/loop", "loop"},
      {"etc/libdir", "/usr/lib"},                     {"etc/chain", "/etc/libdir/../lib/os-release"},
  };
  for (const auto& l : links) {
    std::string path = root + "/" + l.link;
    mkdir((root + "/etc").c_str(), 0700);
    ASSERT_EQ(symlink(l.target.c_str(), path.c_str()), 0) << l.link;
  }
  ASSERT_EQ(mkfifo((root + "/etc/fifo").c_str(), 0600), 0);
  const struct {
    const char* path;
    const char* text;  // null: fails with `error`
    int error;
  } cases[] = {
      {"/etc/os-release", "inside", 0},  {"/etc/relative", "inside", 0},
      {"/etc/climb", "inside", 0},       {"/../../usr/lib/os-release", "inside", 0},
      {"/etc/libdir/os-release", "inside", 0}, {"/etc/chain", "inside", 0},
      {"/etc/escape", nullptr, ENOENT},  {"/etc/absolute", nullptr, ENOENT},
      {"/../outside/secret", nullptr, ENOENT}, {"/etc/loop", nullptr, ELOOP},
      {"/etc/fifo", nullptr, EINVAL},    {"/etc/libdir", nullptr, EINVAL},
  };
  sysroot_set(root.c_str());
  for (bool walk : {false, true}) {
    sysroot_force_walk(walk);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.path) + (walk ? " (walk)" : " (kernel)"));
      errno = 0;
      FILE* f = sys_fopen(c.path, "r");
      if (!c.text) {
        EXPECT_EQ(f, nullptr);
        EXPECT_EQ(errno, c.error);
        if (f) fclose(f);
        continue;
      }
      ASSERT_NE(f, nullptr) << strerror(errno);
      EXPECT_EQ(slurp(f), c.text);
      fclose(f);
      struct stat st;
      EXPECT_EQ(sys_stat(c.path, &st), 0);
      EXPECT_EQ(sys_access(c.path, R_OK), 0);
    }
    struct stat st;
    ASSERT_EQ(sys_lstat("/etc/os-release", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(sys_readlink("/etc/os-release"), "/usr/lib/os-release");
    EXPECT_EQ(sys_readlink("/usr/lib/os-release"), "");
    EXPECT_NE(sys_access("/etc/absolute", F_OK), 0);
    DIR* d = sys_opendir("/etc/libdir");
    ASSERT_NE(d, nullptr);
    closedir(d);
  }
  sysroot_force_walk(false);
}

TEST_F(Files, CreatesOnlyNewFiles) {
  std::string fresh = dir + "/fresh.tmp";
  FILE* f = create_new_file(fresh.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("data", f);
  fclose(f);
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(create_new_file(fresh.c_str(), "wb"), nullptr);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(read(fresh), "data");

  std::string target = write("target", "keep");
  std::string link = dir + "/link.tmp";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(create_new_file(link.c_str(), "w"), nullptr);
  EXPECT_EQ(create_new_fd(link.c_str()), -1);
  std::string dangling = dir + "/dangling.tmp";
  ASSERT_EQ(symlink((dir + "/nowhere").c_str(), dangling.c_str()), 0);
  EXPECT_EQ(create_new_fd(dangling.c_str()), -1);
  EXPECT_NE(access((dir + "/nowhere").c_str(), F_OK), 0);
  EXPECT_EQ(read(target), "keep");

  FILE* rw = create_new_file((dir + "/rw.tmp").c_str(), "w+b");
  ASSERT_NE(rw, nullptr);
  fputs("xy", rw);
  rewind(rw);
  EXPECT_EQ(slurp(rw), "xy");
  fclose(rw);
}

TEST_F(Files, UpdatesAndTruncatesOnlyRegularFilesNotLinks) {
  std::string target = write("target", "keep");
  std::string link = dir + "/link";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(open_for_update_nofollow(link.c_str()), nullptr);
  EXPECT_FALSE(truncate_regular_nofollow(link.c_str()));
  EXPECT_EQ(read(target), "keep");

  std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(truncate_regular_nofollow(fifo.c_str()));  // and does not block
  EXPECT_EQ(open_for_update_nofollow(fifo.c_str()), nullptr);

  FILE* f = open_for_update_nofollow(target.c_str());
  ASSERT_NE(f, nullptr);
  fputs("K", f);
  fclose(f);
  EXPECT_EQ(read(target), "Keep");
  EXPECT_TRUE(truncate_regular_nofollow(target.c_str()));
  EXPECT_EQ(read(target), "");
}

TEST_F(Files, RunsCommandsWithoutTheTerminalAsInputAndQuotesAnyTextAsOneShellWord) {
  FILE* p = command_open("echo out; cat; echo after");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(slurp(p), "out\nafter\n");  // cat read /dev/null, not our input
  int status = command_close(p);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  p = command_open("exit 3");
  ASSERT_NE(p, nullptr);
  status = command_close(p);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
  EXPECT_EQ(command_close(stdin), -1);
  EXPECT_EQ(command_open(nullptr), nullptr);

  EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_quote(nullptr), "''");
  const char* nasty = "a b'c\"$(touch x)`id`;|&\\\n*";
  p = command_open(("printf %s " + shell_quote(nasty)).c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(slurp(p), nasty);
  command_close(p);
}

}  // namespace

// Under a system root nothing is written, and a node that commands are sent
// to must be a character device of the major asked for, checked before it is
// opened (here one with the numbers of the null device, where the test may
// make device nodes).
TEST_F(Files, NothingUnderARootIsWrittenAndCommandsGoOnlyToTheNodesNamed) {
  std::string config = write("proc/bus/pci/00/00.0", std::string(64, '\x11'));
  write("dev/sg1", "a regular file");
  bool have_node = mknod((dir + "/dev/sg0").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  sysroot_set(dir.c_str());
  for (int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC, O_RDONLY | O_CREAT, O_WRONLY | O_APPEND}) {
    EXPECT_EQ(sys_open("/proc/bus/pci/00/00.0", flags, 0600), -1) << flags;
    EXPECT_EQ(errno, EROFS);
  }
  for (const char* mode : {"w", "a", "r+"}) EXPECT_EQ(sys_fopen("/proc/bus/pci/00/00.0", mode), nullptr) << mode;
  EXPECT_EQ(read(config), std::string(64, '\x11'));
  for (const char* node : {"/dev/sg0", "/dev/sg1", "/dev", "/dev/absent"})
    EXPECT_EQ(sys_open_kind(node, O_RDWR | O_NONBLOCK, SYS_CHAR_DEVICE, 21), -1) << node;
  int fd = have_node ? sys_open_kind("/dev/sg0", O_RDWR | O_NONBLOCK, SYS_CHAR_DEVICE, 1) : -2;
  EXPECT_NE(fd, -1);  // the major asked for
  if (fd >= 0) close(fd);
}
