// channels.cpp - programs started with chosen standard channels.
#include "channels.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zvtest {

pid_t spawn(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
            int in, int out, int err) {
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  // Moved above 2 first, so that placing one cannot close another.
  int fds[3] = {in, out, err};
  for (int& fd : fds)
    if (fd >= 0) fd = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  for (int i = 0; i < 3; ++i) {
    if (fds[i] < 0)
      close(i);
    else
      dup2(fds[i], i);
  }
  if (chdir(cwd.c_str()) != 0) _exit(126);
  execv(program.c_str(), argv.data());
  _exit(127);
}

int wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int run_with_output(const std::string& program, const std::vector<std::string>& args,
                    const std::string& cwd, int out, std::string& err_text) {
  int null_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) return -1;
  pid_t pid = spawn(program, args, cwd, null_in, out, err[1]);
  close(err[1]);
  close(null_in);
  err_text.clear();
  char buf[4096];
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) err_text.append(buf, static_cast<size_t>(n));
  close(err[0]);
  return wait_status(pid);
}

}  // namespace zvtest
