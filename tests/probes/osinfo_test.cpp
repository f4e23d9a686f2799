// osinfo_test.cpp - distribution detection from release files under a
// fixture system root, the vendor table and the platform mask.
#include "zvtest.h"

#include "osinfo.h"
#include "sysroot.h"

namespace {

using files = std::vector<std::pair<std::string, std::string>>;

TEST(OsInfo, NamesTheDistributionFromTheFirstReleaseFileFoundWithTheLastMatchingVendor) {
  const struct {
    files content;
    std::string name, vendor;
  } cases[] = {
      {{{"/etc/SuSE-release", "SuSE Linux 9.0 (i586)\nVERSION = 9.0\n"},
        {"/etc/redhat-release", "Red Hat Enterprise Linux AS release 3 (Taroon)\n"}},
       "Red Hat Enterprise Linux AS release 3 (Taroon)", "Red Hat, Inc."},
      {{{"/etc/debian_version", "12.5\r\n"}, {"/etc/redhat-release", "Red Hat\n"}}, "12.5", "Unknown"},
      {{{"/etc/redhat-release", "Red Hat on SuSE\n"}}, "Red Hat on SuSE", "SuSE Linux AG"},
      {{{"/etc/mandrake-release", std::string(5000, 'M') + "\nsecond\n"}}, std::string(127, 'M'), ""},
      // Without release files, the pretty name of os-release, unquoted.
      {{{"/etc/os-release", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 \\\"bookworm\\\"\"\n"}},
       "Debian GNU/Linux 12 \"bookworm\"", ""},
      {{{"/usr/lib/os-release", "PRETTY_NAME='Slackware 15'\n"}}, "Slackware 15", "Slackware Linux, Inc."},
      {{{"/etc/os-release", "PRETTY_NAME=Plain   \n"}}, "Plain", ""},
      {{{"/etc/debian_version", ""}, {"/etc/os-release", "PRETTY_NAME=\"\"\n"}}, "Unknown", ""},
      // A Debian derivative keeps the codename it follows; a real Debian stays.
      {{{"/etc/debian_version", "trixie/sid\n"}, {"/etc/os-release", "ID=ubuntu\nPRETTY_NAME=\"Ubuntu 24.04 LTS\"\n"}},
       "Ubuntu 24.04 LTS", "Unknown"},
      {{{"/etc/debian_version", "trixie/sid\n"}, {"/etc/os-release", "ID=debian\nPRETTY_NAME=\"Debian\"\n"}},
       "trixie/sid", ""},
      {{{"/etc/redhat-release", "\n \r\nRed Hat Linux release 9\n"}}, "Red Hat Linux release 9", "Red Hat, Inc."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content[0].first);
    zvtest::fixture_root root;
    for (const auto& f : c.content) root.add(f.first, f.second);
    sysroot_set(root.path().c_str());
    os_info_linux os;
    sysroot_set(nullptr);
    char buf[128];
    EXPECT_EQ(os.get_name(buf, sizeof buf), c.name);
    if (!c.vendor.empty()) {
      EXPECT_EQ(os.get_vendor(buf, sizeof buf), c.vendor);
    }
  }
}

TEST(OsInfo, LinuxMasksNeedBitZeroAndAnswersFitTheCallersBuffer) {
  zvtest::fixture_root root;
  sysroot_set(root.path().c_str());
  os_info_linux os;
  sysroot_set(nullptr);
  EXPECT_EQ(os.get_platform_id(), 1);
  EXPECT_FALSE(os.is(0x2F70));
  EXPECT_TRUE(os.is(0x2F71));
  char buf[8];
  EXPECT_STREQ(os.get_platform_id(buf, sizeof buf), "Linux");
  EXPECT_STREQ(os.get_build(buf, sizeof buf), "");
  char tiny[4];
  EXPECT_STREQ(os.get_name(tiny, sizeof tiny), "Unk");
  char version[512];
  os.get_version(version, sizeof version);
  EXPECT_NE(std::string(version).find(' '), std::string::npos);
}

}  // namespace

// Readers that want the first lines of a file stop at a bound: a release or
// kernel file of 1 GB (a hole after its first line, no further line end)
// costs well under a second, and its first line is still read.
TEST(OsInfo, FirstLineReadersStopAtABound) {
  zvtest::fixture_root root;
  const char* big[] = {"/etc/os-release", "/etc/redhat-release", "/proc/sys/kernel/ostype",
                       "/proc/sys/kernel/osrelease", "/proc/sys/kernel/version", "/proc/sys/kernel/hostname"};
  for (const char* path : big) {
    root.add(path, std::string(strstr(path, "os-release") ? "PRETTY_NAME=Sparse" : "Sparse") + "\nID=sparse");
    ASSERT_EQ(truncate((root.path() + path).c_str(), 1l << 30), 0) << path;
  }
  sysroot_set(root.path().c_str());
  auto start = std::chrono::steady_clock::now();
  os_info_linux os;
  os_release_info release;
  EXPECT_TRUE(read_os_release_info(release));
  kernel_identity kernel = get_kernel_identity();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sysroot_set(nullptr);
  EXPECT_LT(seconds, 1.0);
  char buf[128];
  EXPECT_EQ(os.get_name(buf, sizeof buf), std::string("Sparse"));
  EXPECT_EQ(release.pretty_name, "Sparse");
  EXPECT_EQ(release.id, "sparse");
  EXPECT_EQ(kernel.release, "Sparse");
  EXPECT_EQ(kernel.nodename, "Sparse");
}
