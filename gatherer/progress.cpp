// progress.cpp - the count on a long probe's console line.

#include "progress.h"

#include <time.h>
#include <unistd.h>

#include <cstring>

#include "zelvarn2.h"

namespace {

FILE* output = nullptr;  // null: standard error
int terminal = -1;       // -1: not asked yet
bool every_call = false;
size_t shown = 0;        // characters now after the cursor's starting place
double last_shown = -1;

FILE* stream() { return output ? output : stderr; }

double now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

/// Moves back over what is shown, writes `text`, blanks the rest of the old
/// text and moves back to the end of the new one.
void replace_shown(const char* text) {
  FILE* f = stream();
  size_t n = strlen(text);
  for (size_t i = 0; i < shown; i++) fputc('\b', f);
  fputs(text, f);
  for (size_t i = n; i < shown; i++) fputc(' ', f);
  for (size_t i = n; i < shown; i++) fputc('\b', f);
  fflush(f);
  shown = n;
}

}  // namespace

bool console_progress_live() {
  if (terminal < 0) terminal = isatty(fileno(stderr)) ? 1 : 0;
  return terminal == 1 && !gatherer_setting(SETTING_SILENT, SETTING_GET);
}

void console_progress(unsigned long count, const char* unit) {
  if (!console_progress_live()) return;
  double t = every_call ? 0 : now();
  if (!every_call && last_shown >= 0 && t - last_shown < 0.1) return;
  last_shown = t;
  char text[64];
  snprintf(text, sizeof text, "%lu %s", count, unit ? unit : "");
  replace_shown(text);
}

void console_progress_end() {
  last_shown = -1;
  if (shown == 0) return;
  replace_shown("");
}

void console_progress_set_output(FILE* out, bool is_terminal, bool each) {
  output = out;
  terminal = out ? (is_terminal ? 1 : 0) : -1;
  every_call = each;
  shown = 0;
  last_shown = -1;
}
