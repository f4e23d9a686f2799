// date_fuzz.cpp - parses arbitrary text with arbitrary hints into date values
// and formats the result.
#include "date.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  unsigned hint;
  memcpy(&hint, data, sizeof hint);
  std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);
  // The guesser is the most interesting path: try it on every input too.
  gathered_datetime dt;
  gathered_date d;
  gathered_time t;
  dt.setDate(text.c_str(), hint);
  d.setDate(text.c_str(), 0);
  t.setDate(text.c_str(), hint & ~0x40000000u);
  for (const gathered_datetime_base* v : {static_cast<const gathered_datetime_base*>(&dt),
                                          static_cast<const gathered_datetime_base*>(&d),
                                          static_cast<const gathered_datetime_base*>(&t)}) {
    if (strlen(v->format()) > 31) __builtin_trap();
    // The parser keeps the text as given, up to its terminator.
    if (strcmp(v->altstring(), text.c_str()) != 0) __builtin_trap();
  }
  gathered_date copy = d;
  copy.setDate(copy.altstring(), hint);
  SP_CLOCK clock = {};
  memcpy(&clock, data, size < sizeof clock ? size : sizeof clock);
  dt.setDate(clock);
  (void)dt.format();
  return 0;
}
