// filescan.cpp - the platform-independent part of the directory scanner: the
// stack of directories waiting to be scanned and the filter test.
#include "filescan.h"

#include <fnmatch.h>

#include "debug.h"
#include "util_string.h"

filescan::filescan()
    : directories_scanned(0), files_scanned(0), files_found(0), current_path(), stack(nullptr),
      filter(nullptr) {}

filescan::~filescan() {
  while (dentry* d = pop_dentry()) delete d;
  delete filter;
}

void filescan::add_dentry(dentry* record) {
  if (!record) return;
  record->next = stack;
  stack = record;
}

dentry* filescan::pop_dentry() {
  dentry* d = stack;
  if (d) stack = d->next;
  return d;
}

void filescan::note_stop(const char* path, const char* reason) {
  printd("filescan: not scanning %s: %s\n", path ? path : "", reason ? reason : "");
  if (stops.size() < STOPS_KEPT)
    stops.push_back({path ? path : "", reason ? reason : ""});
  else
    ++stops_dropped;
}

static bool name_matches(str_list* patterns, const char* name) {
  for (const char* p = patterns->get_first(); p; p = patterns->get_next())
    if (fnmatch(p, name, 0) == 0) return true;
  return false;
}

bool match_filters(const char* name, int permissions, str_list* filter, str_list* ignore, int mask,
                   int check) {
  if (!name) return false;
  bool perm_ok = (permissions & mask) != 0 && (check == 0 || check == permissions);
  if (!perm_ok) return false;
  if (filter && !name_matches(filter, name)) return false;
  return !(ignore && name_matches(ignore, name));
}
