// osinfo.cpp - the platform-independent part of the operating-system object:
// the program-wide instance and the platform mask test.
#include "osinfo.h"

#include <cstdio>

os_info* os_info::instance = nullptr;

os_info::~os_info() {}

bool os_info::is(int mask) { return (mask & get_platform_id()) != 0; }

os_info* os_info::get_instance() {
  if (!instance) instance = make_os_info();
  return instance;
}

char* os_info_copy(char* buf, int size, const char* text) {
  if (!buf || size < 1) return buf;
  snprintf(buf, static_cast<size_t>(size), "%s", text ? text : "");
  return buf;
}
