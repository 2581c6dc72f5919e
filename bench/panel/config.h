// The panel.cfg format as panel builders write it.
//
// INI-like text: `[Window Titles]` with `windowNN=title`; one `[WindowNN]` section per window
// with `file=` (the background BMP, relative to the cfg's folder), `size_mm=W,H` (the design
// size in millimetres), `window_size_ratio=`, `position=`, `visible=`, `ident=` and
// `gaugeNN=NAME, x, y[, w[, h]]`. `//` starts a comment (whole line or trailing); keys and
// section names are case-insensitive; spaces and tabs around names, values and commas do not
// matter; CR LF line ends and a UTF-8 byte order mark are accepted. Other sections and other keys
// belong to the simulator and are skipped.
//
// Parsing never fails: whatever cannot be read becomes a Warning with its line, and the rest is
// kept. A gauge line whose position reads but whose size or name does not is kept with an
// `error`, so the panel can mark where it would have been.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "panel.h"

namespace panel {

struct GaugeLine {
  std::string name;
  int x = 0, y = 0;
  std::optional<int> w, h;
  int line = 0;
  std::string error;  // why the line cannot be used (the position is still valid)
};

struct WindowConfig {
  int number = 0;
  int line = 0;  // of the section header
  std::string title, ident, file;
  std::optional<int> sizeMmW, sizeMmH;
  double sizeRatio = 1.0;
  int positionCode = 0;
  bool visible = true;
  std::vector<GaugeLine> gauges;
};

struct Config {
  std::vector<WindowConfig> windows;  // by window number
  std::vector<Warning> warnings;
};

// `file` is the name the warnings carry.
Config ParseConfig(std::istream& in, const std::string& file);

}  // namespace panel
