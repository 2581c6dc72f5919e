#include "commands.h"

#include <cmath>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "info.h"
#include "numbers.h"
#include "scenario.h"
#include "module.h"
#include "panel/command.h"
#include "records_check.h"
#include "wav.h"
#include "serve.h"

namespace cli {
namespace {

struct Options {
  std::vector<std::string> positional;
  std::vector<std::pair<uint32_t, double>> sets;
  std::string output;
  std::string rules;
  std::string gauges;
  std::string renderEach;
  std::string port;
  std::string wav;
};

std::pair<uint32_t, double> ParseSet(const std::string& text) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) throw UsageError("--set expects ID=VALUE, got \"" + text + "\"");
  const auto id = ParseInteger(text.substr(0, eq));
  const auto value = ParseReal(text.substr(eq + 1));
  if (!id || *id < 0 || *id > 0xFFFFFFFFll) throw UsageError("--set: \"" + text.substr(0, eq) + "\" is not a variable id");
  if (!value) throw UsageError("--set: \"" + text.substr(eq + 1) + "\" is not a number");
  return {static_cast<uint32_t>(*id), *value};
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--set") {
      o.sets.push_back(ParseSet(value()));
    } else if (a.rfind("--set=", 0) == 0) {
      o.sets.push_back(ParseSet(a.substr(6)));
    } else if (a == "-o" || a == "--output") {
      o.output = value();
    } else if (a == "--rules") {
      o.rules = value();
    } else if (a == "--wav") {
      o.wav = value();
    } else if (a == "--gauges") {
      o.gauges = value();
    } else if (a == "--render-each") {
      o.renderEach = value();
    } else if (a == "--port") {
      o.port = value();
    } else if (a.size() > 1 && a[0] == '-' && !ParseInteger(a)) {
      throw UsageError("unknown option " + a);
    } else {
      o.positional.push_back(a);
    }
  }
  return o;
}

int32_t Coordinate(const std::string& text, const char* what) {
  const auto v = ParseInteger(text);
  if (!v || *v < -100000 || *v > 100000) throw UsageError(std::string(what) + " \"" + text + "\" is not a whole number of pixels");
  return static_cast<int32_t>(*v);
}

std::unique_ptr<host::Module> Open(const Options& o, size_t atLeast, const char* form) {
  if (o.positional.size() < atLeast) throw UsageError(std::string("usage: gaugebench ") + form);
  auto module = host::Module::Load(o.positional[0]);
  if (!o.rules.empty()) {
    std::ifstream in(o.rules);
    if (!in) throw std::runtime_error("cannot open rules file " + o.rules);
    module->simulator().loadRules(in, o.rules);
  }
  for (const auto& [id, value] : o.sets) module->simulator().setVariable(id, value);
  return module;
}

void Refresh(host::Module& m, const Options& o, std::ostream& out) {
  m.update();
  m.draw();
  if (!o.output.empty()) {
    render::writePng(m.frame(), o.output);
    out << "wrote " << o.output << " (" << m.frame().width << " x " << m.frame().height << ")\n";
  }
}

void PrintEvents(host::Module& m, size_t from, const Options& o, std::ostream& out) {
  const auto& events = m.simulator().events();
  if (events.size() == from) out << "no events\n";
  const host::Event* lastSound = nullptr;
  for (size_t i = from; i < events.size(); ++i) {
    out << host::FormatEvent(events[i]) << "\n";
    if (events[i].kind == host::Event::Kind::Sound) lastSound = &events[i];
  }
  if (!o.wav.empty()) {
    if (lastSound == nullptr) throw std::runtime_error("no sound was played to write to " + o.wav);
    host::WriteWav(*lastSound, o.wav);
    out << "wrote " << o.wav << "\n";
  }
}

int Info(const Options& o, std::ostream& out) {
  auto m = Open(o, 1, "info FILE.gau");
  out << Describe(*m);
  return 0;
}

int Check(const Options& o, std::ostream& out) {
  if (o.positional.empty()) throw UsageError("usage: gaugebench check FILE.gau...");
  int failed = 0;
  for (const std::string& path : o.positional) {
    std::vector<pe::Violation> violations;
    try {
      violations = pe::checkModule(pe::load(path));
      auto m = host::Module::Load(path);
      for (auto& v : host::CheckRecords(*m)) violations.push_back(v);
    } catch (const std::exception& e) {
      violations.push_back({"load", e.what()});
    }
    if (violations.empty()) {
      out << path << ": ok\n";
    } else {
      ++failed;
      out << path << ": " << violations.size() << " violation" << (violations.size() == 1 ? "" : "s") << "\n";
      for (const auto& v : violations) out << "  [" << v.rule << "] " << v.detail << "\n";
    }
  }
  return failed == 0 ? 0 : 1;
}

int RenderCommand(const Options& o, std::ostream& out) {
  if (o.output.empty()) throw UsageError("render needs -o OUT.png");
  auto m = Open(o, 1, "render FILE.gau [--set ID=VALUE]... -o OUT.png");
  m->start();
  Refresh(*m, o, out);
  return 0;
}

// click FILE X Y, or drag FILE X Y0 Y1 [Y2...]: the gesture, its events, then a refresh.
int Gesture(const Options& o, bool drag, std::ostream& out) {
  const char* form = drag ? "drag FILE.gau X Y0 Y1 [Y2...]" : "click FILE.gau X Y";
  auto m = Open(o, drag ? 4 : 3, form);
  if (!drag && o.positional.size() != 3) throw UsageError(std::string("usage: gaugebench ") + form);
  const int32_t x = Coordinate(o.positional[1], "X");
  std::vector<int32_t> ys;
  for (size_t i = 2; i < o.positional.size(); ++i) ys.push_back(Coordinate(o.positional[i], "Y"));
  m->start();
  if (!m->mouseAreasRegistered())
    throw std::runtime_error(o.positional[0] + " has no mouse areas to " + (drag ? "drag" : "click"));
  const size_t before = m->simulator().events().size();
  if (!m->gesture(x, ys)) out << "(" << x << ", " << ys[0] << ") is outside every mouse area\n";
  PrintEvents(*m, before, o, out);
  Refresh(*m, o, out);
  return 0;
}

int Scenario(const Options& o, std::ostream& out) {
  if (o.positional.size() != 1) throw UsageError("usage: gaugebench run SCENARIO [--gauges DIR] [--render-each DIR]");
  return RunScenario(o.positional[0], {o.gauges, o.renderEach, o.rules}, out);
}

}  // namespace

int Run(const std::string& command, const std::vector<std::string>& args, std::ostream& out) {
  const Options o = Parse(args);
  if (command == "info") return Info(o, out);
  if (command == "check") return Check(o, out);
  if (command == "render") return RenderCommand(o, out);
  if (command == "click") return Gesture(o, false, out);
  if (command == "drag") return Gesture(o, true, out);
  if (command == "run") return Scenario(o, out);
  if (command == "panel") {
    if (o.positional.size() != 1 || o.gauges.empty() || o.output.empty())
      throw UsageError("usage: gaugebench panel PANEL.cfg --gauges DIR -o OUT.png [--set ID=VALUE]...");
    return panel::RunCommand({o.positional[0], o.gauges, o.output, o.rules, o.sets}, out);
  }
  if (command == "serve") {
    const auto port = o.port.empty() ? std::optional<int64_t>(8080) : ParseInteger(o.port);
    if (o.positional.size() != 1 || o.gauges.empty()) throw UsageError("usage: gaugebench serve PANEL.cfg --gauges DIR [--port N]");
    if (!port || *port < 0 || *port > 65535) throw UsageError("--port \"" + o.port + "\" is not a port number (0 to 65535)");
    return serve::Serve({o.positional[0], o.gauges, static_cast<int>(*port)}, out);
  }
  throw UsageError("unknown command \"" + command + "\"");
}

}  // namespace cli
