// Scenario files: a sequence of steps run against gauge modules, with expectations.
//
// One step a line; '#' starts a comment. Numbers are decimal or 0x hex.
//
//   gauge FILE.gau                 load a module (relative to the scenario file, or to --gauges);
//                                  it is installed, initialised, updated and drawn, and becomes
//                                  the current gauge. Several gauges share one simulator.
//   set ID VALUE                   set host variable ID
//   click X Y                      press and release at gauge pixel (X, Y)
//   drag X Y0 Y1 [Y2 ...]          press at (X, Y0), move through Y1.., release at the last
//   update                         update and draw the current gauge
//   render FILE.png                update, draw and write the current gauge's frame
//   expect key ID VALUE            the next event not yet expected is KeyEvent ID with VALUE
//   expect sound ID                the next event not yet expected is the sound ID
//   expect nothing                 every event so far has been expected
//   expect variable ID VALUE       host variable ID holds VALUE
//   expect picture [GAUGE/]ELEMENT VALUE
//                                  element number ELEMENT (0 = root, in tree order) of the current
//                                  gauge, or of the loaded GAUGE (file name without .gau, or gauge
//                                  name), shows VALUE after the last update
#pragma once

#include <ostream>
#include <string>

namespace cli {

struct ScenarioOptions {
  std::string gaugesDir;   // where `gauge` lines look first; default: beside the scenario
  std::string renderEach;  // if set, a PNG of the current gauge after every step, in this folder
  std::string rulesFile;   // KeyEvent rules of the simulator
};

// Runs the scenario, printing each step's events. Returns 0 when every expectation held, 1 at
// the first that did not (naming its line). A malformed line throws std::runtime_error naming
// FILE:LINE.
int RunScenario(const std::string& path, const ScenarioOptions& options, std::ostream& out);

}  // namespace cli
