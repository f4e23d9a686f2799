// channels.h - starting a program with standard channels of the test's
// choosing (a full device, a closed descriptor, a pipe held open), for the
// end-to-end cases the capturing harness cannot set up.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zvtest {

/// Starts `program` with `args` in `cwd`; descriptor 0, 1 and 2 of the child
/// become `in`, `out` and `err` (-1: closed). Returns the process id.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
            int in, int out, int err);

/// Waits for `pid`: its exit status, or 128 + the signal that ended it.
int wait_status(pid_t pid);

/// Runs to the end with standard input at its end, standard output on `out`
/// (-1: closed) and standard error captured into `err_text`; the status as
/// wait_status gives it.
int run_with_output(const std::string& program, const std::vector<std::string>& args,
                    const std::string& cwd, int out, std::string& err_text);

}  // namespace zvtest
