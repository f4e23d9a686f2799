// display_linux.h - the X display mode: resolution, colour depth and
// refresh rate of the screen named by DISPLAY.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

/// What the display tools report about the current mode. A field not found
/// stays -1.
struct display_mode {
  int width = -1;
  int height = -1;
  int refresh = -1;  ///< Hz, rounded
  int depth = -1;    ///< bits per pixel of the root window
  bool complete() const { return width >= 0 && height >= 0 && refresh >= 0 && depth >= 0; }
};

/// Takes the current mode from one line of the resize tool's output, in the
/// current layout ("   1280x1024     60.00*+   75.02") or the old one
/// ("*0   1024 x 768   ( 347mm x 260mm )  *75   60"). Only the first current
/// mode counts; later lines leave a found mode alone.
void parse_xrandr_line(const std::string& line, display_mode& mode);
/// Takes the root window depth from one line of the display information
/// tool ("  depth of root window:    24 planes").
void parse_xdpyinfo_line(const std::string& line, display_mode& mode);

/// Runs both tools against the display of the environment.
display_mode read_display_mode();

/// "Display Settings" of the group "Display Information": valid when
/// DISPLAY is set.
class display_probe : public probe {
 public:
  explicit display_probe(probe_group* group);
  bool test() override;
  bool run(FILE* report) override;
};
