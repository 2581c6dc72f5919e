// `gaugebench panel`: load a panel.cfg, render every visible window to PNG, print the warnings.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace panel {

struct CommandOptions {
  std::string cfg;     // panel.cfg
  std::string gauges;  // folder of the .gau files
  std::string output;  // OUT.png: the first visible window; the next ones OUT-2.png, OUT-3.png...
  std::string rules;   // optional KeyEvent rules file for the simulator
  std::vector<std::pair<uint32_t, double>> sets;  // host variables set before the update
};

// The PNG file of the n-th visible window (n from 1): OUT.png, OUT-2.png, ...
std::string WindowOutputPath(const std::string& output, int n);

// Returns the exit status; a configuration that cannot be read throws std::runtime_error.
int RunCommand(const CommandOptions& options, std::ostream& out);

}  // namespace panel
