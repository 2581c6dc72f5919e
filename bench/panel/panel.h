// Whole panels: the windows of a panel.cfg, each a background bitmap with gauges placed on it,
// every gauge a real module in its own guest, all of them sharing one Simulator.
//
// Load reads the configuration (see config.h), finds each gauge among the .gau files of the
// gauges folder, loads, installs, initialises, updates and draws it once, and sizes it on its
// window. Nothing that goes wrong with one gauge stops the others: a gauge name no module has, a
// module that does not load or faults, a malformed line each leave a Warning naming the file and
// line, and, where the position is known, a red placeholder box on the window.
//
// Everything here runs on one thread, the one that calls it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "module.h"
#include "render/image.h"
#include "simulator.h"

namespace panel {

// One gaugeNN= line of a window.
struct Placement {
  std::string name;                  // as written (gauge name, or module!gauge / module.gauge)
  int x = 0, y = 0, w = 0, h = 0;    // on the window background, in its pixels (w, h resolved)
  int line = 0;                      // line in panel.cfg
  std::unique_ptr<host::Module> module;  // null when it failed: then `error` says why
  std::string error;
};

// One [WindowNN] section.
struct Window {
  int number = 0;                    // NN of [WindowNN]
  std::string title, ident;
  std::string file;                  // background BMP as named
  render::Image background;          // loaded background, or a plain dark one of size_mm pixels
  int sizeMmW = 0, sizeMmH = 0;      // size_mm= (the background's pixel size when not given)
  double sizeRatio = 1.0;
  int positionCode = 0;
  bool visible = true;
  std::vector<Placement> gauges;     // in the order listed; later ones lie on top
};

struct Warning {
  std::string file;
  int line = 0;  // 0 when the warning belongs to no line
  std::string message;
  std::string text() const;  // "FILE:LINE: message" ("FILE: message" without a line)
};

class Panel {
 public:
  // Reads the configuration and loads every window and gauge. A gauge is found among the .gau
  // files of gaugesDir by its gauge name (the GaugeHeader's), or by "module!gauge" or
  // "module.gauge" naming a module file (without or with .gau) and the gauge it holds; names
  // compare without regard to case. Throws std::runtime_error (one line) only when the
  // configuration file cannot be read.
  static std::unique_ptr<Panel> Load(const std::string& cfgPath, const std::string& gaugesDir);
  ~Panel();  // GaugeKill for every gauge still running

  const std::vector<Warning>& warnings() const { return warnings_; }
  std::vector<Window>& windows() { return windows_; }
  host::Simulator& simulator() { return *simulator_; }
  std::shared_ptr<host::Simulator> sharedSimulator() const { return simulator_; }

  // GaugeUpdate of every gauge of every window.
  void update();
  // GaugeDraw of every gauge of the window, then the background with each gauge's frame scaled
  // into its box, in the order listed; failed gauges as a red box with a cross. A gauge that
  // faults while updating or drawing turns into a failed one (with a warning).
  render::Image draw(int windowIndex);

  // The pointer, in window-background pixels. press hit-tests from the topmost (last listed)
  // gauge down: the first whose box holds the point and has a mouse area under it gets the press,
  // in its own pixels (floor of the scaled offset); false when no gauge was hit. While the button
  // is held, move and release go to the pressed gauge wherever the pointer is.
  bool press(int windowIndex, int x, int y);
  void move(int windowIndex, int x, int y);
  void release(int windowIndex, int x, int y);

  // Index of the placement that got the current press, or -1 when the button is up.
  int pressedGauge() const { return pressed_ ? pressedGauge_ : -1; }

 private:
  Panel() = default;
  Window& window(int windowIndex);
  void fail(Placement& p, const std::string& what);
  static void toGauge(const Placement& p, int x, int y, int& gx, int& gy);

  std::string cfgPath_;
  std::vector<Window> windows_;
  std::vector<Warning> warnings_;
  std::shared_ptr<host::Simulator> simulator_;
  bool pressed_ = false;
  int pressedWindow_ = 0, pressedGauge_ = 0;
};

}  // namespace panel
