// display_linux.cpp - the "Display Settings" table from the resize tool and
// the display information tool of the X display in DISPLAY.
#include "display_linux.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "debug.h"
#include "run_command.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

const size_t LINE_LIMIT = 4096;

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string f;
  while (in >> f && fields.size() < 64) fields.push_back(f);
  return fields;
}

/// A whole decimal number (digits only) into value; false otherwise or when
/// it is too large for a screen.
bool whole_number(const std::string& s, int& value) {
  if (s.empty() || s.size() > 6) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  value = atoi(s.c_str());
  return true;
}

/// A rate such as "60.00*+" or "*75": the number with its marks removed, rounded.
bool rate(const std::string& s, int& value) {
  std::string digits;
  for (char c : s)
    if (c != '*' && c != '+') digits += c;
  if (digits.empty() || digits.size() > 12 || strspn(digits.c_str(), "0123456789.") != digits.size() ||
      digits[0] == '.')
    return false;
  double v = strtod(digits.c_str(), nullptr);
  if (!(v >= 0 && v < 100000)) return false;
  value = static_cast<int>(lround(v));
  return true;
}

/// "1280x1024" (an interlace mark "i" may follow) into width and height.
bool mode_size(const std::string& s, int& w, int& h) {
  size_t x = s.find('x');
  if (x == std::string::npos) return false;
  std::string height = s.substr(x + 1);
  if (!height.empty() && height.back() == 'i') height.pop_back();
  return whole_number(s.substr(0, x), w) && whole_number(height, h);
}

}  // namespace

void parse_xrandr_line(const std::string& line, display_mode& mode) {
  if (mode.width >= 0 || line.find('*') == std::string::npos) return;
  std::vector<std::string> f = fields_of(line);
  int w, h, r;
  if (f.size() >= 2 && mode_size(f[0], w, h)) {
    // Current layout: the mode's size, then its rates; the current one is starred.
    for (size_t i = 1; i < f.size(); ++i)
      if (f[i].find('*') != std::string::npos && rate(f[i], r)) {
        mode.width = w, mode.height = h, mode.refresh = r;
        return;
      }
    return;
  }
  // Old layout: "*N  W x H  ( Wmm x Hmm )  *R ...", the current rate starred.
  if (f.size() >= 10 && f[0][0] == '*' && f[2] == "x" && whole_number(f[1], w) &&
      whole_number(f[3], h) && rate(f[9], r)) {
    mode.width = w, mode.height = h, mode.refresh = r;
  }
}

void parse_xdpyinfo_line(const std::string& line, display_mode& mode) {
  static const char key[] = "depth of root window:";
  size_t at = line.find(key);
  if (mode.depth >= 0 || at == std::string::npos) return;
  std::vector<std::string> f = fields_of(line.substr(at + sizeof key - 1));
  int d;
  if (!f.empty() && whole_number(f[0], d)) mode.depth = d;
}

namespace {

void read_tool(const char* command, void (*parse)(const std::string&, display_mode&),
               display_mode& mode) {
  FILE* out = command_open(command);
  if (!out) {
    print_error("display: popen", errno);
    return;
  }
  std::string line;
  while (read_line(out, line, LINE_LIMIT)) parse(line, mode);
  print_error("display: getline", errno);
  command_close(out);
}

}  // namespace

display_mode read_display_mode() {
  display_mode mode;
  read_tool("xrandr 2>/dev/null", parse_xrandr_line, mode);
  read_tool("xdpyinfo 2>/dev/null", parse_xdpyinfo_line, mode);
  printd("display: %d x %d, %d Hz, depth %d\n", mode.width, mode.height, mode.refresh, mode.depth);
  return mode;
}

display_probe::display_probe(probe_group* group) : probe(group, "Display Settings", 3, 0x0001) {
  customers = 0xFFFF;
}

// The display is the running session's: none under a system root.
bool display_probe::test() { return getenv("DISPLAY") != nullptr && !sysroot_is_set(); }

bool display_probe::run(FILE* report) {
  static const Column columns[] = {{"Horizontal Resolution", INTEGER}, {"Vertical Resolution", INTEGER},
                                   {"Bits Per Pixel", INTEGER},        {"Frequency", INTEGER}};
  Table table(report, "Display Settings");
  table.heading(columns);
  display_mode mode = read_display_mode();
  if (mode.complete()) {
    const char* display = getenv("DISPLAY");
    table.write_row(display ? display : "", mode.width, mode.height, mode.depth, mode.refresh);
  }
  return true;
}
