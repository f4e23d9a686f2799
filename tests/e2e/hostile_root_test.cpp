// hostile_root_test.cpp - a captured tree whose links, names and device nodes
// point at the live machine: no byte of a host file reaches the report or the
// run's other files, whether the program reads it or an outside command does,
// while the same kinds of file inside the tree are still read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "harness.h"

namespace {

/// One planted file: at `path` in the tree, either a link to a host file or
/// directory holding `marker`, or (inside) a file of the tree holding it.
struct planted {
  const char* path;
  enum { HOST_ABSOLUTE, HOST_RELATIVE, INSIDE } where;
  const char* marker;
  const char* content;  ///< text around the marker ("%" stands for it)
};

const planted rows[] = {
    // The logs read by cat, grep and tail.
    {"/var/log/messages.0", planted::HOST_ABSOLUTE, "HOSTBYTES-LOG-ABS", "Dec  1 h kernel: %\n"},
    {"/var/log/messages.1", planted::HOST_RELATIVE, "HOSTBYTES-LOG-REL", "Dec  1 h kernel: %\n"},
    {"/var/log/boot.log", planted::HOST_ABSOLUTE, "HOSTBYTES-BOOTLOG", "%\n"},
    {"/var/log/messages", planted::INSIDE, "TREE-LOG", "Dec  2 h kernel: %\n"},
    {"/var/log/messages.4", planted::INSIDE, "TREE-OLDER-LOG", "Dec  1 h kernel: %\n"},
    // Device nodes handed to the file-system tool.
    {"/dev/sda1", planted::HOST_ABSOLUTE, "HOSTBYTES-IMAGE", "%"},
    {"/dev/sda2", planted::HOST_RELATIVE, "HOSTBYTES-IMAGE-REL", "%"},
    {"/dev/sdb1", planted::INSIDE, "TREE-IMAGE", "%"},
    // Locale configuration read by the program itself.
    {"/etc/sysconfig/i18n", planted::HOST_ABSOLUTE, "HOSTBYTES-LOCALE", "LANG=%\n"},
    {"/etc/sysconfig/language", planted::HOST_RELATIVE, "HOSTBYTES-LOCALE-REL", "RC_LANG=%\n"},
    // A directory link met by the file scan: the marker is a file name.
    {"/srv/linked", planted::HOST_ABSOLUTE, "HOSTBYTES-SCAN", "%.conf"},
    {"/srv/up", planted::HOST_RELATIVE, "HOSTBYTES-SCAN-REL", "%.conf"},
    {"/srv/own", planted::INSIDE, "TREE-SCAN", "%.conf"},
};

/// "../" enough times to climb from `path` (in the tree) past the host's root.
std::string climb(const std::string& root, const std::string& path) {
  std::string up;
  size_t depth = std::count(root.begin(), root.end(), '/') + std::count(path.begin(), path.end(), '/');
  for (size_t i = 0; i < depth + 2; ++i) up += "../";
  return up;
}

std::string with_marker(const char* content, const char* marker) {
  std::string text = content;
  return text.replace(text.find('%'), 1, marker);
}

/// Writes an executable stand-in tool into dir.
void stand_in(const std::string& dir, const std::string& tool, const std::string& script) {
  ASSERT_TRUE(zvtest::write_file(dir, "/" + tool, "#!/bin/sh\n" + script + "\n"));
  chmod((dir + "/" + tool).c_str(), 0755);
}

}  // namespace

TEST(HostileRootE2E, NoHostFileIsReadThroughTheTree) {
  zvtest::fixture_root root;
  zvtest::temp_dir host, bin, cwd;
  for (const planted& p : rows) {
    std::string path = p.path;
    bool directory = std::string(p.content).find(".conf") != std::string::npos;
    // What the link leads to: the marker as content, or as a file name in a
    // directory.
    std::string text = with_marker(p.content, p.marker);
    std::string target = directory ? std::string("/") + p.marker : std::string("/") + p.marker + ".txt";
    if (p.where == planted::INSIDE) {
      ASSERT_TRUE(zvtest::write_file(root.path(), directory ? path + "/" + text : path, text));
      continue;
    }
    ASSERT_TRUE(zvtest::write_file(host.path(), directory ? target + "/" + text : target, text));
    // The same absolute path inside the tree holds a decoy, so that a check
    // made inside the root passes while a command given the host path would
    // reach the host's file.
    std::string decoy = host.path() + target + (directory ? "/decoy.conf" : "");
    ASSERT_TRUE(zvtest::write_file(root.path(), decoy, directory ? "" : with_marker(p.content, "TREE-DECOY")));
    std::string full = root.path() + path;
    ASSERT_TRUE(zvtest::write_file(root.path(), path + ".tmp", ""));  // makes the directories
    unlink((full + ".tmp").c_str());
    std::string link = p.where == planted::HOST_ABSOLUTE
                           ? host.path() + target
                           : climb(root.path(), path) + (host.path() + target).substr(1);
    ASSERT_EQ(symlink(link.c_str(), full.c_str()), 0) << full;
  }
  // The module directory of a kernel release that climbs out of the tree.
  ASSERT_TRUE(zvtest::write_file(host.path(), "/modules/HOSTBYTES-MODULE.ko", "HOSTBYTES-MODULE"));
  root.add("/lib/modules/.keep", "");
  root.add("/proc/sys/kernel/osrelease", climb(root.path(), "/lib/modules/x") + host.path().substr(1) + "/modules\n");
  root.add("/proc/partitions",
           "major minor  #blocks  name\n\n   8        1       4 sda1\n   8        2       4 sda2\n"
           "   8       17       4 sdb1\n");
  // A queue that never ends, where a log should be: nothing may wait on it.
  ASSERT_EQ(symlink("/proc/kmsg", (root.path() + "/var/log/messages.2").c_str()), 0);
  ASSERT_EQ(mkfifo((root.path() + "/var/log/messages.3").c_str(), 0600), 0);
  // A loop back to the scan's start: the scan says where it stopped.
  ASSERT_EQ(symlink("/srv", (root.path() + "/srv/loop").c_str()), 0);
  // Stand-ins that print whatever they are given to read.
  stand_in(bin.path(), "tune2fs", "printf 'Filesystem features:      %s\\n' \"$(cat \"$2\")\"");
  stand_in(bin.path(), "modinfo", "printf 'description: %s\\n' \"$(cat \"$1\")\"");

  zvtest::run_options o;
  o.args = {"-batch", "-local", "-debug", "-sysroot", root.path(), "-probe", "SYSTEM_LOGS",
            "PARTITION_INFORMATION", "REGIONAL_SETTINGS", "DEVICE_DRIVER_INFORMATION", "FILESCAN",
            "-p", "FILESCAN", "path=/srv", "filter=*.conf"};
  o.cwd = cwd.path();
  const char* path = getenv("PATH");
  o.env = {{"PATH", bin.path() + ":" + (path ? path : "/usr/bin:/bin")}, {"LANG", "C"}, {"HOME", cwd.path()}};
  o.timeout_seconds = 60;
  auto start = std::chrono::steady_clock::now();
  zvtest::run_result r = zvtest::run_program(o);
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));

  std::string everything = r.out + r.err, reports;
  for (const std::string& name : zvtest::list_dir(cwd.path()))
    (name == "gatherer.log" ? everything : reports) += zvtest::read_file(cwd.file(name));
  everything += reports;
  for (const planted& p : rows) {
    SCOPED_TRACE(p.path);
    if (p.where == planted::INSIDE)
      EXPECT_NE(everything.find(p.marker), std::string::npos) << "a file of the tree was not read";
    else
      EXPECT_EQ(everything.find(p.marker), std::string::npos) << "a host file was read";
  }
  EXPECT_EQ(everything.find("HOSTBYTES-MODULE"), std::string::npos);
  EXPECT_NE(reports.find("<path>/srv/loop</path>\r\n<reason>scanned already</reason>"), std::string::npos) << reports;
}
