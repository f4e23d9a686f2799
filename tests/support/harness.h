// harness.h - runs the built program the way a user does and captures what
// it shows, for the end-to-end tests; plus temporary directories and
// fixture system roots.
//
// Typical use:
//   zvtest::temp_dir cwd;
//   zvtest::run_options o;
//   o.args = {"-batch", "-level", "0"};
//   o.cwd = cwd.path();
//   zvtest::run_result r = zvtest::run_program(o);
//   EXPECT_EQ(r.status, 0);
//   EXPECT_NE(r.err.find("Run complete, rc = 0"), std::string::npos);
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zvtest {

/// What one run of the program is given.
struct run_options {
  /// The program; empty means the one named by the environment variable
  /// ZV_PROGRAM (set by ctest for the end-to-end tests).
  std::string program;
  /// Arguments after the program name.
  std::vector<std::string> args;
  /// Standard input text; nullopt gives an input that is at its end at once.
  std::optional<std::string> input;
  /// Variables added to (or replacing those of) the test's environment.
  std::vector<std::pair<std::string, std::string>> env;
  /// Working directory; empty keeps the test's own.
  std::string cwd;
  /// The program is killed after this many seconds (timed_out is then set).
  int timeout_seconds = 120;
};

/// What one run produced.
struct run_result {
  std::string out;        ///< standard output
  std::string err;        ///< standard error
  int status = -1;        ///< exit status when exited, else -1
  int signal = 0;         ///< the signal that ended it, else 0
  bool exited = false;    ///< ended through exit
  bool timed_out = false; ///< killed after the timeout
  bool started = false;   ///< the program could be started at all
};

/// The program named by ZV_PROGRAM, made absolute ("" when unset).
std::string program_path();

/// Runs the program to its end and captures everything.
run_result run_program(const run_options& options);

/// Runs the built zv2tool with these arguments in cwd.
run_result run_zv2tool(const std::vector<std::string>& args, const std::string& cwd);

/// Shorthand: run with these arguments in cwd, with input (nullopt: at end).
run_result run(const std::vector<std::string>& args, const std::string& cwd,
               std::optional<std::string> input = std::nullopt);

/// A fresh directory under TMPDIR (or /tmp), removed with everything in it
/// when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return dir; }
  /// path() + "/" + relative.
  std::string file(const std::string& relative) const;

 private:
  std::string dir;
};

/// Writes content to root/relative, creating the directories on the way
/// (relative may start with "/": "/etc/os-release" under a fixture root).
/// Returns false when something could not be written.
bool write_file(const std::string& root, const std::string& relative, const std::string& content);

/// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

/// True when the file exists.
bool file_exists(const std::string& path);

/// Names in a directory, without "." and "..", sorted.
std::vector<std::string> list_dir(const std::string& dir);

/// A fixture system root: a temporary directory to be given as -sysroot,
/// filled with the platform files a test needs.
class fixture_root {
 public:
  /// A root is never empty (the program refuses an empty one): it starts
  /// with one marker file, "/.fixture-root", that no probe reads.
  fixture_root();
  /// Adds a file under the root; platform_path is absolute ("/etc/issue").
  fixture_root& add(const std::string& platform_path, const std::string& content);
  const std::string& path() const { return dir.path(); }

 private:
  temp_dir dir;
};

/// Counts the occurrences of needle in text.
size_t count_of(const std::string& text, const std::string& needle);

/// The fields of a line between separators (empty ones kept, a trailing one too).
std::vector<std::string> split(const std::string& line, char separator = '\t');

/// The lines of a tab-separated fixture file split into fields, without empty
/// lines and "#" comment lines.
std::vector<std::vector<std::string>> tsv_rows(const std::string& path);

/// What is left to read in a stream, from its current position.
std::string read_stream(FILE* f);

/// Sets (or with null unsets) an environment variable for the object's life.
class scoped_env {
 public:
  scoped_env(const char* name, const char* value);
  ~scoped_env();
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  std::string name, saved;
  bool had;
};

}  // namespace zvtest
