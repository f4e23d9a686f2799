// capture_test.cpp - "-capture DIR" and its replay with "-sysroot DIR": the
// replay's report is the captured run's, byte for byte, with the clock fixed;
// captures that cannot be trusted are refused before anything runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"
#include "smbios_root.h"

namespace {

using zvtest::run_result;

bool has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

const std::string kLegacyRoot = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/startup/legacy/root";

run_result run_fixed(std::vector<std::string> args, const std::string& cwd, const std::string& program = "",
                     const char* zone = "UTC") {
  zvtest::run_options o;
  o.program = program;
  o.args = std::move(args);
  o.cwd = cwd;
  o.env = {{"SOURCE_DATE_EPOCH", "1700000000"}, {"TZ", zone}};
  return zvtest::run_program(o);
}

/// A root with links: the capture keeps them as links and the files they
/// lead to at their own places.
void fill_linked_root(zvtest::fixture_root& root) {
  root.add("/usr/lib/os-release", "NAME=\"Testix\"\nVERSION_ID=\"7\"\n")
      .add("/etc/timezone", "Etc/UTC\n")
      .add("/etc/passwd", "root:x:0:0:root:/root:/bin/sh\n")
      .add("/proc/meminfo", "MemTotal:        2048000 kB\nMemFree:          512000 kB\n")
      .add("/proc/sys/kernel/hostname", "captured-box\n");
  symlink("/usr/lib/os-release", (root.path() + "/etc/os-release").c_str());
}

// A capture of a root, replayed, gives the same report in every output form
// (the self-report, which names the options and the root, is left out) and
// the same container file. The replay names the capture in its self-report.
TEST(CaptureE2E, ReplayOfACaptureWritesTheCapturedRunsReport) {
  zvtest::fixture_root linked;
  fill_linked_root(linked);
  smbios_test::temp_root memory;
  smbios_test::memory_image image;
  image.put_dump(smbios_test::committed_dump("type5-no-terminator"), 0xF0000, 0x10000);
  ASSERT_TRUE(image.save(memory));
  // The running machine: everything but the self-report, the display (only
  // where DISPLAY is set) and the file scan. The program's own variables,
  // user, locale and kernel identity and the routing netlink answers are the
  // recorded ones.
  const char* live = "GATHERER INFORMATION;Display_Information;FILESCAN";
  // A capture of a replay keeps what the replay read, the records too.
  zvtest::temp_dir live_parent, live_cwd;
  const std::string live_capture = live_parent.file("live");
  ASSERT_EQ(run_fixed({"-batch", "-local", "-stdout", "-text", "-skip", live, "-capture", live_capture},
                      live_cwd.path())
                .status,
            0);
  const struct {
    const char* name;
    std::string root;
    std::vector<std::string> form;
    const char* skip = "GATHERER INFORMATION";
    const char* profile = "";  ///< output profile of the test build's zelvarn2-profile
    const char* zone = "UTC";  ///< TZ of the capture's run (the replay's is UTC)
    const char* drop = nullptr;  ///< taken out of the capture before the replay
    const char* holds = nullptr;  ///< in both reports
  } cases[] = {
      {"legacy xml", kLegacyRoot, {"-local", "-stdout"}},
      {"linked text", linked.path(), {"-local", "-stdout", "-text"}},
      {"legacy html", kLegacyRoot, {"-local", "-stdout", "-html"}},
      {"linked container", linked.path(), {"-filename", "zv-@T"}},
      {"live xml", "", {"-local", "-stdout"}, live},
      {"live text", "", {"-local", "-stdout", "-text"}, live, "", "Asia/Tokyo", nullptr, "Table: Network Interfaces\n"},
      {"live html", "", {"-local", "-stdout", "-html"}, live},
      {"live container", "", {"-filename", "zv-@T"}, live, "", "Asia/Tokyo"},
      {"live plain xml", "", {"-local", "-stdout"}, live, "xml"},
      {"live orna", "", {"-local", "-stdout"}, live, "orna"},
      {"live replayed", live_capture, {"-local", "-stdout", "-text"}, live},
      // A memory image searched for the SMBIOS table: the ranges read answer
      // the replay, the image itself gone from the capture.
      {"memory ranges text", memory.path(), {"-local", "-stdout", "-text"}, "GATHERER INFORMATION", "", "UTC",
       "/dev/mem", "| DIMM1 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    zvtest::temp_dir cwd, keep, capture_parent;
    std::string capture = capture_parent.file("cap");
    std::vector<std::string> args = {"-batch", "-skip", c.skip};
    if (*c.profile) args.insert(args.begin(), c.profile);
    args.insert(args.end(), c.form.begin(), c.form.end());
    std::vector<std::string> first = args, again = args;
    if (!c.root.empty()) first.insert(first.end(), {"-sysroot", c.root});
    first.insert(first.end(), {"-capture", capture});
    again.insert(again.end(), {"-sysroot", capture});
    std::string program = *c.profile ? std::string(ZV_BINARY_DIR) + "/tests/zelvarn2-profile" : "";
    run_result captured = run_fixed(first, cwd.path(), program, c.zone);
    ASSERT_EQ(captured.status, 0) << captured.err;
    if (c.drop) {
      ASSERT_EQ(unlink((capture + c.drop).c_str()), 0) << c.drop;
    }
    if (c.holds) {
      EXPECT_TRUE(has(captured.out, c.holds)) << c.holds;
    }
    // The files of the first run are moved aside: the second writes the same names.
    std::vector<std::string> files = zvtest::list_dir(cwd.path());
    for (const std::string& f : files) rename(cwd.file(f).c_str(), keep.file(f).c_str());
    run_result replayed = run_fixed(again, cwd.path(), program);
    ASSERT_EQ(replayed.status, 0) << replayed.err;
    if (c.form[0] == "-filename") {
      // The container's name and header carry the instant SOURCE_DATE_EPOCH
      // names, in the captured run's zone also in the replay.
      EXPECT_EQ(files, std::vector<std::string>{std::string(c.zone) == "UTC" ? "zv-20231114-221320.ZV2"
                                                                             : "zv-20231115-071320.ZV2"});
    } else {
      EXPECT_TRUE(has(captured.out, "2023-11-14")) << "time zone table";
    }
    EXPECT_TRUE(captured.out == replayed.out) << "reports differ";
    EXPECT_EQ(zvtest::list_dir(cwd.path()), files);
    for (const std::string& f : files)
      EXPECT_TRUE(zvtest::read_file(cwd.file(f)) == zvtest::read_file(keep.file(f))) << f << " differs";
  }
  // The links were kept as links, never followed out of the capture.
  zvtest::temp_dir cwd, parent;
  std::string capture = parent.file("cap");
  run_result r = run_fixed({"-batch", "-local", "-stdout", "-text", "-probe", "GATHERER INFORMATION",
                            "-sysroot", linked.path(), "-capture", capture},
                           cwd.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = run_fixed({"-batch", "-local", "-stdout", "-text", "-probe", "GATHERER INFORMATION", "-sysroot", capture},
                cwd.path());
  for (const std::string& row : {"| System Root     | " + capture, std::string("| Capture Host    | captured-box "),
                                 std::string("| Capture Time    | 2023-11-14 22:13:20 UTC ")})
    EXPECT_TRUE(has(r.out, row)) << row;
  char link[256] = "";
  ssize_t n = readlink((capture + "/etc/os-release").c_str(), link, sizeof link - 1);
  EXPECT_EQ(std::string(link, n > 0 ? n : 0), "/usr/lib/os-release");
  EXPECT_EQ(zvtest::read_file(capture + "/usr/lib/os-release"), "NAME=\"Testix\"\nVERSION_ID=\"7\"\n");
}

// A capture that cannot be trusted is refused before anything runs or is
// written; no recording is ever executed.
TEST(CaptureE2E, UntrustedCapturesAreRefused) {
  zvtest::temp_dir cwd;
  std::string marker = cwd.file("ran");
  const std::string manifest = "zelvarn2 capture 1\nhost=box\ntime=1700000000\nversion=x\n";
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // under the directory
    bool capture;  ///< given to -capture (else replayed with -sysroot)
    const char* said;
  } cases[] = {
      {"not empty", {{"/keep", "mine\n"}}, true, "is not empty."},
      {"manifest", {{"/.zelvarn2-capture/manifest", "hello\n"}, {"/.zelvarn2-capture/commands/index", ""}}, false,
       "holds a damaged capture (manifest)."},
      {"no index", {{"/.zelvarn2-capture/manifest", manifest}}, false, "holds a damaged capture (no command index)."},
      {"bad line",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", "1 0 0 cat\nx 0 0 cat\n"},
        {"/.zelvarn2-capture/commands/1", ""}},
       false, "holds a damaged capture (command index line 2)."},
      {"no output", {{"/.zelvarn2-capture/manifest", manifest}, {"/.zelvarn2-capture/commands/index", "4 0 0 cat\n"}},
       false, "holds a damaged capture (command index line 1)."},
      {"bad escape",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", "1 0 0 cat \\q\n"},
        {"/.zelvarn2-capture/commands/1", ""}},
       false, "holds a damaged capture (command index line 1)."},
      {"bad size",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/statvfs", "4096 4096 10 5 5 9 9 9 0 255 /\n4096 4096 10 5 5 9 9 9 0 /home\n"}},
       false, "holds a damaged capture (file-system sizes line 2)."},
      {"netlink cut short",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/netlink-link-inet", std::string("\x20\0\0\0\x10\0\x02\0\1\0\0\0\0\0\0\0", 16)}},
       false, "holds a damaged capture (netlink-link-inet: message of 32 bytes cut short at offset 0)."},
      {"netlink length",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/netlink-route-inet6", std::string("\x08\0\0\0\x03\0\x02\0\1\0\0\0\0\0\0\0", 16)}},
       false, "holds a damaged capture (netlink-route-inet6: message length 8 at offset 0)."},
      {"scsi answer",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/scsi-sg0", "idlun 0 7\ncommand 12 4 0102\n"}},
       false, "holds a damaged capture (scsi-sg0: line 2)."},
      {"memory range",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/memory", "f0000 4\nabcdf0004 8\nabc"}},
       false, "holds a damaged capture (memory range 2)."},
      // The program's own facts: lines of whole, validly escaped fields.
      {"user ids",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/user", "root\t0\t-1\n"}},
       false, "holds a damaged capture (current user line 1)."},
      {"environment tab",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/environment", "HOME=/root\nA=\tb\n"}},
       false, "holds a damaged capture (environment line 2)."},
      {"locale fields",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", ""},
        {"/.zelvarn2-capture/locale", "Current Thread\tC.UTF-8\t\t\tUTF-8\tx\n"}},
       false, "holds a damaged capture (locale line 1)."},
      {"foreign tool",
       {{"/.zelvarn2-capture/manifest", manifest},
        {"/.zelvarn2-capture/commands/index", "1 0 0 touch " + marker + "\n"},
        {"/.zelvarn2-capture/commands/1", ""}},
       false, "holds a recording of a command this program does not run (command index line 1: touch)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    zvtest::temp_dir dir;
    for (const auto& f : c.files) ASSERT_TRUE(zvtest::write_file(dir.path(), f.first, f.second));
    std::vector<std::string> before = zvtest::list_dir(dir.path());
    run_result r = c.capture ? run_fixed({"-batch", "-level", "0", "-capture", dir.path()}, cwd.path())
                             : run_fixed({"-batch", "-level", "0", "-sysroot", dir.path()}, cwd.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("Error: ") + (c.capture ? "capture " : "sysroot ") + dir.path() + " " + c.said + "\n");
    EXPECT_EQ(zvtest::list_dir(dir.path()), before);
    EXPECT_TRUE(zvtest::list_dir(cwd.path()).empty());
  }
  // Nothing is written under a system root, not even a capture.
  zvtest::fixture_root root;
  run_result r = run_fixed({"-batch", "-level", "0", "-sysroot", root.path(), "-capture", root.path() + "/cap"},
                           cwd.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: capture " + root.path() + "/cap lies under the system root.\n");
  EXPECT_EQ(zvtest::list_dir(root.path()), std::vector<std::string>{".fixture-root"});
}

// A recording stands for its command, which is not run: the process list is
// the recorded one, and no process of the machine the replay runs on. So do
// the records of the captured program's variables, user, locale and kernel.
TEST(CaptureE2E, RecordingsStandForTheCommands) {
  zvtest::temp_dir cwd;
  zvtest::fixture_root capture;
  capture.add("/.zelvarn2-capture/manifest", "zelvarn2 capture 1\nhost=box\ntime=1700000000\nversion=x\n")
      .add("/.zelvarn2-capture/commands/1", "/opt/zvtest/ps\n")
      .add("/.zelvarn2-capture/commands/2", "   4242 zvuser     0  0.0  0.1 S    zv-recorded\n")
      .add("/.zelvarn2-capture/commands/index",
           "1 0 0 which 'ps' 2>&1\n"
           "2 0 0 '/opt/zvtest/ps' --no-headers -eo pid,user,nice,pcpu,pmem,stat,comm --sort pid 2>&1\n");
  run_result r = run_fixed({"-batch", "-local", "-stdout", "-text", "-probe", "Processes", "-sysroot", capture.path()},
                           cwd.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "|     4242 | zv-recorded  | zvuser   |")) << r.out;
  EXPECT_EQ(zvtest::count_of(r.out, "\n|  "), 1u) << r.out;
  EXPECT_FALSE(has(r.out, "zelvarn2"));

  capture.add("/.zelvarn2-capture/environment", "ZV_RECORDED=a\\\\b\\x09c\nHOME=/home/zvcaptured\nTZ=Asia/Tokyo\n")
      .add("/.zelvarn2-capture/user", "zvcaptured\t1234\t100\n")
      .add("/.zelvarn2-capture/locale", "Current Thread\tzv_ZV.UTF-8\tZvish\tZvland \\xe2\\x82\\xac\tUTF-8\n")
      .add("/.zelvarn2-capture/uname", "Linux\t9.9.9-zv\t#7 zv\tcaptured-box\tzv64\n");
  r = run_fixed({"-batch", "-local", "-stdout", "-text", "-probe",
                 "ENVIRONMENT;SYSTEM SUMMARY;REGIONAL SETTINGS;TIME ZONE", "-sysroot", capture.path()},
                cwd.path());
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* piece : {"| ZV_RECORDED ", "| a\\b?c ", "| /home/zvcaptured ", "| zvcaptured ",
                            "| zv_ZV.UTF-8 ", "| Zvland \xe2\x82\xac ", "9.9.9-zv",
                            "| 2023-11-15   | 07:13:20     | No              | JST "})
    EXPECT_TRUE(has(r.out, piece)) << piece << "\n" << r.out;
  // Only the recorded variables and rows: none of the running program's
  // (its TZ is UTC).
  EXPECT_FALSE(has(r.out, "| PATH ")) << r.out;
  EXPECT_FALSE(has(r.out, "| System Default ")) << r.out;
  EXPECT_TRUE(has(r.err, "(System Default: not available under a system root)")) << r.err;
}

}  // namespace
