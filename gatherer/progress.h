// progress.h - a long probe's sign of life on its console line: a count
// written after the task's dotted name and erased again before the status
// word. Only when standard error is a terminal and the run is not silent;
// otherwise nothing is written, so logs and pipes see the same lines as ever.
#pragma once

#include <cstdio>

/// Shows "COUNT UNIT" (at most every tenth of a second). Cheap to call per
/// row or per block.
void console_progress(unsigned long count, const char* unit);
/// Erases what console_progress showed; the task's status word follows.
void console_progress_end();
/// True when progress would be shown (a terminal, not silent).
bool console_progress_live();
/// For tests: write to `out` as if it were (or were not) a terminal, showing
/// every call when `every_call`. Null `out` goes back to standard error.
void console_progress_set_output(FILE* out, bool terminal, bool every_call);
