// harness.cpp - child process running with captured standard streams, and
// the temporary file helpers of the end-to-end tests.
#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace zvtest {

namespace {

/// The child's environment: the test's own with the given variables set.
std::vector<std::string> make_environment(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(extra.begin(), extra.end(),
                                [&](const std::pair<std::string, std::string>& p) { return p.first == key; });
    if (!replaced) env.push_back(entry);
  }
  for (const auto& p : extra) env.push_back(p.first + "=" + p.second);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(&s[0]);
  p.push_back(nullptr);
  return p;
}

long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

/// Feeds the input and drains both output pipes until both are closed,
/// so a child that writes much never blocks on a full pipe.
void pump(int in_fd, const std::string& input, int out_fd, int err_fd, run_result& r,
          long long deadline, pid_t child) {
  size_t written = 0;
  if (in_fd >= 0 && input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  while (out_fd >= 0 || err_fd >= 0) {
    struct pollfd fds[3];
    int n = 0;
    int in_i = -1, out_i = -1, err_i = -1;
    if (in_fd >= 0) { fds[n] = {in_fd, POLLOUT, 0}; in_i = n++; }
    if (out_fd >= 0) { fds[n] = {out_fd, POLLIN, 0}; out_i = n++; }
    if (err_fd >= 0) { fds[n] = {err_fd, POLLIN, 0}; err_i = n++; }
    long long left = deadline - now_ms();
    if (left <= 0) {
      kill(child, SIGKILL);
      r.timed_out = true;
      break;
    }
    int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(std::min(left, 1000LL)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    char buf[65536];
    auto drain = [&](int idx, int& fd, std::string& sink) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0) {
        sink.append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
      }
    };
    drain(out_i, out_fd, r.out);
    drain(err_i, err_fd, r.err);
    if (in_i >= 0 && (fds[in_i].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = (fds[in_i].revents & POLLOUT)
                        ? write(in_fd, input.data() + written, input.size() - written)
                        : -1;
      if (put > 0) written += static_cast<size_t>(put);
      if (put < 0 || written == input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  if (out_fd >= 0) close(out_fd);
  if (err_fd >= 0) close(err_fd);
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

}  // namespace

std::string program_path() {
  const char* p = getenv("ZV_PROGRAM");
  if (!p || !*p) return "";
  if (p[0] == '/') return p;
  // A relative name must survive the change of working directory.
  char cwd[4096];
  return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + p : p;
}

run_result run_program(const run_options& options) {
  run_result r;
  std::string program = options.program.empty() ? program_path() : options.program;
  if (program.empty()) return r;

  std::vector<std::string> argv_strings;
  argv_strings.push_back(program);
  argv_strings.insert(argv_strings.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env_strings = make_environment(options.env);
  std::vector<char*> argv = pointers(argv_strings);
  std::vector<char*> envp = pointers(env_strings);

  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) return r;
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return r;
  // Writing to a child that has already exited must not kill the test.
  signal(SIGPIPE, SIG_IGN);

  pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  r.started = true;
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  long long deadline = now_ms() + static_cast<long long>(options.timeout_seconds) * 1000;
  pump(in_pipe[1], options.input.value_or(""), out_pipe[0], err_pipe[0], r, deadline, pid);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    r.exited = true;
    r.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.signal = WTERMSIG(status);
  }
  return r;
}

run_result run(const std::vector<std::string>& args, const std::string& cwd,
               std::optional<std::string> input) {
  run_options o;
  o.args = args;
  o.cwd = cwd;
  o.input = std::move(input);
  return run_program(o);
}

temp_dir::temp_dir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zvtest.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data())) dir = buf.data();
}

temp_dir::~temp_dir() {
  if (!dir.empty()) nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string temp_dir::file(const std::string& relative) const { return dir + "/" + relative; }

bool write_file(const std::string& root, const std::string& relative, const std::string& content) {
  std::string rel = relative;
  while (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
  std::string path = root;
  size_t start = 0, slash;
  while ((slash = rel.find('/', start)) != std::string::npos) {
    path = root + "/" + rel.substr(0, slash);
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
    start = slash + 1;
  }
  std::ofstream f(root + "/" + rel, std::ios::binary | std::ios::trunc);
  f << content;
  return static_cast<bool>(f);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

fixture_root::fixture_root() { add("/.fixture-root", ""); }

fixture_root& fixture_root::add(const std::string& platform_path, const std::string& content) {
  write_file(dir.path(), platform_path, content);
  return *this;
}

size_t count_of(const std::string& text, const std::string& needle) {
  if (needle.empty()) return 0;
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + needle.size())) ++n;
  return n;
}

run_result run_zv2tool(const std::vector<std::string>& args, const std::string& cwd) {
  run_options o;
  o.program = std::string(ZV_BINARY_DIR) + "/zv2tool";
  o.args = args;
  o.cwd = cwd;
  return run_program(o);
}

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == separator)
      fields.emplace_back();
    else
      fields.back().push_back(c);
  }
  return fields;
}

std::vector<std::vector<std::string>> tsv_rows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::string text = read_file(path), line;
  for (size_t at = 0, nl; at < text.size(); at = nl + 1) {
    nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    line = text.substr(at, nl - at);
    if (!line.empty() && line[0] != '#') rows.push_back(split(line));
  }
  return rows;
}

std::string read_stream(FILE* f) {
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  return out;
}

scoped_env::scoped_env(const char* name, const char* value) : name(name) {
  const char* old = getenv(name);
  had = old != nullptr;
  if (had) saved = old;
  value ? setenv(name, value, 1) : unsetenv(name);
}

scoped_env::~scoped_env() { had ? setenv(name.c_str(), saved.c_str(), 1) : unsetenv(name.c_str()); }

}  // namespace zvtest
