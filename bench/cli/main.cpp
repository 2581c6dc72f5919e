// gaugebench: the host for our gauge modules on Linux.
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

const char kUsage[] =
    "usage: gaugebench COMMAND [ARGS]\n"
    "\n"
    "Runs gauge modules (.gau) in an emulated 32-bit host: loads the real module, drives its\n"
    "lifecycle routines and handlers, draws what it shows and logs the KeyEvents it sends.\n"
    "\n"
    "commands:\n"
    "  info FILE.gau                 PE facts, exports, imports, resources, GaugeHeader, the\n"
    "                                element tree with every field, the mouse areas\n"
    "  check FILE.gau...             structural and record rules; lists each violation,\n"
    "                                exits 1 if any\n"
    "  render FILE.gau [--set ID=VALUE]... -o OUT.png\n"
    "                                install, initialise, update and draw, then write the frame\n"
    "  click FILE.gau X Y [--set ID=VALUE]... [-o OUT.png]\n"
    "                                press and release at gauge pixel (X, Y); prints the events\n"
    "  drag FILE.gau X Y0 Y1 [Y2...] [--set ID=VALUE]... [-o OUT.png]\n"
    "                                press at (X, Y0), move through Y1.., release; prints events\n"
    "  run SCENARIO [--gauges DIR] [--render-each DIR]\n"
    "                                run a scenario file: one step a line (gauge FILE, set ID V,\n"
    "                                click X Y, drag X Y0 Y1.., update, render F.png, expect key ID V,\n"
    "                                expect sound ID, expect nothing, expect variable ID V,\n"
    "                                expect picture ELEMENT V); prints the events of each step\n"
    "  panel PANEL.cfg --gauges DIR -o OUT.png [--set ID=VALUE]...\n"
    "                                load a whole panel (gauges found in DIR by gauge name or\n"
    "                                module!gauge), update it and write one PNG per visible window:\n"
    "                                OUT.png, then OUT-2.png, OUT-3.png...; prints the warnings\n"
    "  serve PANEL.cfg --gauges DIR [--port N]\n"
    "                                the panel live in a web browser, on 127.0.0.1 only (port 8080;\n"
    "                                0 picks a free one): click and drag the gauges, set variables,\n"
    "                                see and hear the events; prints the address, runs until Ctrl+C\n"
    "\n"
    "options:\n"
    "  --set ID=VALUE   set host variable ID (decimal or 0x hex) to VALUE before updating\n"
    "  --render-each D  (run) write a PNG of the current gauge after every step into D\n"
    "  --port N         (serve) TCP port on 127.0.0.1; 0 for any free port\n"
    "  --rules FILE     KeyEvent rules of the simulator, one \"KEYEVENT VARIABLE [MIN MAX]\" a line\n"
    "  -o, --output F   PNG to write\n"
    "  --wav FILE       (click, drag) write the last sound the gesture played as a .wav file\n"
    "  -h, --help       this text\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  try {
    return cli::Run(command, args, std::cout);
  } catch (const cli::UsageError& e) {
    std::fprintf(stderr, "gaugebench %s: %s (see gaugebench --help)\n", command.c_str(), e.what());
    return 2;
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message)
      if (c == '\n') c = ' ';
    std::fprintf(stderr, "gaugebench %s: %s\n", command.c_str(), message.c_str());
    return 1;
  }
}
