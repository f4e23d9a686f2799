// pairtime.cpp - times two whole processes in turn, A then B, and reports their ratio pair by pair.
//
//   pairtime [-n RUNS] [-w WARMUP] [-t SECONDS] -b 'COMMAND_B' -- COMMAND_A [ARG ...]
//
// COMMAND_A runs from its argument vector (PATH searched); COMMAND_B is one string for /bin/sh -c,
// so a redirection needs no wrapper. After WARMUP uncounted pairs (default 1), RUNS pairs
// (default 5) are timed. Wall time is the monotonic clock around fork and reaping, so start-up
// counts; CPU time is user + system of the reaped child as wait4 reports it (its reaped
// descendants included). Each row prints min, median and max; the A/B rows are the ratios of
// the same pair, which stay meaningful when the machine's speed drifts during the call.
// Standard input is /dev/null and standard output is discarded (writing it to a pipe or a
// terminal would be timed too); standard error is kept so failures show.
// A run longer than SECONDS (default 900) is killed with its process group; the pairs finished
// before it are reported. Exit status: 0 all pairs ran, 1 a system call failed, 2 bad arguments,
// 3 a run was killed at the time bound. The commands' own exit statuses are noted, not acted on.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_timed_out = 0;

// Kills from the handler itself: a flag alone would be missed if the alarm came before wait4.
void OnAlarm(int) {
  g_timed_out = 1;
  if (g_child > 0) kill(-g_child, SIGKILL);
}

struct Run {
  double cpu = 0, wall = 0;
  int status = 0;
};

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double Seconds(const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; }

// Runs argv once; false when it was killed at the bound or could not be started.
bool Once(char* const* argv, unsigned timeout, Run* run) {
  g_timed_out = 0;
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) {
    perror("pairtime: fork");
    exit(1);
  }
  if (pid == 0) {
    setpgid(0, 0);  // its own group, so the bound can kill whatever it started
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      if (null > 1) close(null);
    }
    signal(SIGALRM, SIG_DFL);
    execvp(argv[0], argv);
    fprintf(stderr, "pairtime: %s: %s\n", argv[0], strerror(errno));
    _exit(127);
  }
  setpgid(pid, pid);  // also here: the child may not have run yet when the alarm fires
  g_child = pid;
  alarm(timeout);
  int status;
  rusage ru;
  while (wait4(pid, &status, 0, &ru) < 0) {
    if (errno != EINTR) {
      perror("pairtime: wait4");
      exit(1);
    }
  }
  run->wall = Now() - start;
  alarm(0);
  g_child = 0;
  kill(-pid, SIGKILL);  // what it left running in its group would load the next run
  run->cpu = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
  run->status = status;
  // Both, so an alarm that comes just after a run ended on its own does not void it.
  return !(g_timed_out && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Row(const char* name, const std::vector<double>& v, int decimals) {
  if (v.empty()) return;
  printf("%-14s %11.*f %11.*f %11.*f\n", name, decimals, *std::min_element(v.begin(), v.end()),
         decimals, Median(v), decimals, *std::max_element(v.begin(), v.end()));
}

// Notes runs that did not exit 0: the figures may then time an error path.
void NoteStatus(const char* which, const std::vector<Run>& runs) {
  for (const Run& r : runs) {
    if (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) continue;
    size_t same = std::count_if(runs.begin(), runs.end(), [&](const Run& o) { return o.status == r.status; });
    if (WIFEXITED(r.status))
      printf("note: %s exited %d in %zu of %zu runs\n", which, WEXITSTATUS(r.status), same, runs.size());
    else
      printf("note: %s ended by signal %d in %zu of %zu runs\n", which, WTERMSIG(r.status), same, runs.size());
    return;
  }
}

int Usage() {
  fprintf(stderr, "usage: pairtime [-n RUNS] [-w WARMUP] [-t SECONDS] -b 'COMMAND_B' -- COMMAND_A [ARG ...]\n");
  return 2;
}

bool Count(const char* s, long lo, long hi, long* out) {
  char* end;
  errno = 0;
  long v = strtol(s, &end, 10);
  if (errno || *end || end == s || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 5, warmup = 1, timeout = 900;
  const char* vs = nullptr;
  int opt;
  while ((opt = getopt(argc, argv, "+n:w:t:b:")) != -1) {
    bool ok = true;
    switch (opt) {
      case 'n': ok = Count(optarg, 1, 10000, &runs); break;
      case 'w': ok = Count(optarg, 0, 100, &warmup); break;
      case 't': ok = Count(optarg, 1, 86400, &timeout); break;
      case 'b': vs = optarg; break;
      default: ok = false;
    }
    if (!ok) return Usage();
  }
  if (!vs || optind >= argc) return Usage();
  char* const* cmd_a = argv + optind;
  std::string sh = "/bin/sh", dash_c = "-c", b = vs;
  char* cmd_b[] = {&sh[0], &dash_c[0], &b[0], nullptr};

  struct sigaction sa = {};
  sa.sa_handler = OnAlarm;  // no SA_RESTART: wait4 must return so the kill is noticed
  sigaction(SIGALRM, &sa, nullptr);

  std::vector<Run> as, bs;
  bool killed = false;
  for (long i = 0; i < warmup + runs && !killed; ++i) {
    Run a, r;
    killed = !Once(cmd_a, timeout, &a) || !Once(cmd_b, timeout, &r);
    if (killed || i < warmup) continue;
    as.push_back(a);
    bs.push_back(r);
  }

  std::vector<double> a_cpu, a_wall, b_cpu, b_wall, r_cpu, r_wall;
  for (size_t i = 0; i < as.size(); ++i) {
    a_cpu.push_back(as[i].cpu);
    a_wall.push_back(as[i].wall);
    b_cpu.push_back(bs[i].cpu);
    b_wall.push_back(bs[i].wall);
    // A zero CPU time is below the clock's resolution: no ratio can be read from that pair.
    if (bs[i].cpu > 0) r_cpu.push_back(as[i].cpu / bs[i].cpu);
    if (bs[i].wall > 0) r_wall.push_back(as[i].wall / bs[i].wall);
  }
  printf("pairtime: %zu of %ld pairs timed (A then B), %ld warm-up; whole processes\n", as.size(), runs, warmup);
  printf("%-14s %11s %11s %11s\n", "", "min", "median", "max");
  Row("A cpu s", a_cpu, 3);
  Row("A wall s", a_wall, 3);
  Row("B cpu s", b_cpu, 3);
  Row("B wall s", b_wall, 3);
  Row("A/B cpu", r_cpu, 4);
  Row("A/B wall", r_wall, 4);
  NoteStatus("A", as);
  NoteStatus("B", bs);
  if (killed) printf("note: a run passed %ld s and was killed; later pairs were not run\n", timeout);
  return killed ? 3 : 0;
}
