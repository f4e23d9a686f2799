// profile_main.cpp - zelvarn2 writing its report in an output form no
// command-line option selects (plain XML, ORNA), for the golden reports.
// Built with the tests, never installed:
//   zelvarn2-profile xml|orna [OPTION...]
// The profile's output format is applied after the default configuration;
// the options then apply as they do for zelvarn2.
#undef main  // this target builds gatherer/main.cpp's main as zelvarn2_main

#include <cstdio>
#include <cstring>

#include "table.h"
#include "zelvarn2.h"

int zelvarn2_main(int argc, char** argv);

namespace {

/// The ORNA output format only: the whole profile runs a fixed task list
/// of none and writes nothing but its frame.
void orna_output() { Table::set_output_format(OUTPUT_ORNA); }

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "xml") == 0) {
    gatherer_output_profile = xml_configuration;
  } else if (argc >= 2 && strcmp(argv[1], "orna") == 0) {
    gatherer_output_profile = orna_output;
  } else {
    fprintf(stderr, "usage: %s xml|orna [OPTION...]\n", argc > 0 ? argv[0] : "zelvarn2-profile");
    return 2;
  }
  argv[1] = argv[0];
  return zelvarn2_main(argc - 1, argv + 1);
}
