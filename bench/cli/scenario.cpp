#include "scenario.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "module.h"
#include "numbers.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

class Scenario {
 public:
  Scenario(const std::string& path, const ScenarioOptions& options, std::ostream& out)
      : path_(path), options_(options), out_(out), simulator_(std::make_shared<host::Simulator>()) {
    if (!options.rulesFile.empty()) {
      std::ifstream in(options.rulesFile);
      if (!in) throw std::runtime_error("cannot open rules file " + options.rulesFile);
      simulator_->loadRules(in, options.rulesFile);
    }
  }

  int run() {
    std::ifstream in(path_);
    if (!in) throw std::runtime_error("cannot open scenario " + path_);
    std::string line;
    for (line_ = 1; std::getline(in, line); ++line_) {
      if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string s; words >> s;) w.push_back(s);
      if (w.empty()) continue;
      if (!step(w, line)) return 1;
      printNewEvents();
      if (!options_.renderEach.empty() && gauge_ != nullptr) {
        const std::string png = (fs::path(options_.renderEach) / ("step" + std::to_string(line_) + ".png")).string();
        gauge_->update();
        gauge_->draw();
        render::writePng(gauge_->frame(), png);
      }
    }
    return 0;
  }

 private:
  [[noreturn]] void error(const std::string& message) const {
    throw std::runtime_error(path_ + ":" + std::to_string(line_) + ": " + message);
  }

  int32_t integer(const std::string& text, const char* what) const {
    const auto v = ParseInteger(text);
    if (!v || *v < INT32_MIN || *v > static_cast<int64_t>(UINT32_MAX)) error(std::string(what) + " \"" + text + "\" is not a whole number");
    return static_cast<int32_t>(*v);
  }
  double real(const std::string& text, const char* what) const {
    const auto v = ParseReal(text);
    if (!v) error(std::string(what) + " \"" + text + "\" is not a number");
    return *v;
  }
  void arity(const std::vector<std::string>& w, size_t least, size_t most, const char* form) const {
    if (w.size() < least || w.size() > most) error(std::string("expected \"") + form + "\"");
  }
  host::Module& current() const {
    if (gauge_ == nullptr) error("no gauge loaded yet (start with \"gauge FILE.gau\")");
    return *gauge_;
  }
  std::string resolve(const std::string& file, bool gauge) const {
    if (fs::path(file).is_absolute()) return file;
    if (gauge && !options_.gaugesDir.empty() && fs::exists(fs::path(options_.gaugesDir) / file))
      return (fs::path(options_.gaugesDir) / file).string();
    return (fs::path(path_).parent_path() / file).string();
  }

  void printNewEvents() {
    const auto& events = simulator_->events();
    for (; printed_ < events.size(); ++printed_) out_ << "  " << host::FormatEvent(events[printed_]) << "\n";
  }

  bool fail(const std::string& what) {
    out_ << path_ << ":" << line_ << ": expectation failed: " << what << "\n";
    return false;
  }

  const host::Event* nextExpected() {
    const auto& events = simulator_->events();
    return expected_ < events.size() ? &events[expected_] : nullptr;
  }

  bool expect(const std::vector<std::string>& w) {
    if (w.size() < 2) error("expected \"expect key|sound|nothing|variable|picture ...\"");
    const std::string& what = w[1];
    if (what == "key") {
      arity(w, 4, 4, "expect key ID VALUE");
      const uint32_t id = static_cast<uint32_t>(integer(w[2], "KeyEvent id"));
      const int32_t value = integer(w[3], "value");
      const host::Event* e = nextExpected();
      if (e == nullptr) return fail("key " + w[2] + " " + w[3] + ", but no further event was sent");
      if (e->kind != host::Event::Kind::Key || e->id != id || e->value != value)
        return fail("key " + w[2] + " " + w[3] + ", but the next event is: " + host::FormatEvent(*e));
      ++expected_;
      return true;
    }
    if (what == "sound") {
      arity(w, 3, 3, "expect sound ID");
      const uint32_t id = static_cast<uint32_t>(integer(w[2], "sound id"));
      const host::Event* e = nextExpected();
      if (e == nullptr) return fail("sound " + w[2] + ", but no further event happened");
      if (e->kind != host::Event::Kind::Sound || e->id != id)
        return fail("sound " + w[2] + ", but the next event is: " + host::FormatEvent(*e));
      ++expected_;
      return true;
    }
    if (what == "nothing") {
      arity(w, 2, 2, "expect nothing");
      if (const host::Event* e = nextExpected()) return fail("nothing, but got: " + host::FormatEvent(*e));
      return true;
    }
    if (what == "variable") {
      arity(w, 4, 4, "expect variable ID VALUE");
      const uint32_t id = static_cast<uint32_t>(integer(w[2], "variable id"));
      const double value = real(w[3], "value");
      const double actual = simulator_->variable(id);
      if (actual != value) return fail("variable " + w[2] + " = " + w[3] + ", but it is " + FormatReal(actual));
      return true;
    }
    if (what == "picture") {
      arity(w, 4, 4, "expect picture [GAUGE/]ELEMENT VALUE");
      // ELEMENT of the current gauge, or GAUGE/ELEMENT naming a loaded gauge by its file name
      // (without .gau) or its gauge name.
      host::Module* gauge = &current();
      std::string element = w[2];
      if (const auto slash = element.rfind('/'); slash != std::string::npos) {
        const std::string name = element.substr(0, slash);
        gauge = nullptr;
        for (const auto& m : modules_)
          if (m->deliverable() == name || m->gaugeName() == name) gauge = m.get();
        if (gauge == nullptr) error("no loaded gauge is called \"" + name + "\"");
        element = element.substr(slash + 1);
      }
      const int32_t index = integer(element, "element number");
      const double value = real(w[3], "value");
      const auto elements = gauge->elements();
      if (index < 0 || static_cast<size_t>(index) >= elements.size())
        error("element number " + element + " is not in the tree of " + gauge->deliverable() + " (it has " +
              std::to_string(elements.size()) + ")");
      const double shown = gauge->shownValue(elements[static_cast<size_t>(index)].address);
      if (shown != value) return fail("element " + w[2] + " shows " + w[3] + ", but it shows " + FormatReal(shown));
      return true;
    }
    error("unknown expectation \"" + what + "\"");
  }

  bool step(const std::vector<std::string>& w, const std::string& line) {
    const std::string& verb = w[0];
    out_ << line_ << ": " << line.substr(line.find_first_not_of(" \t")) << "\n";
    if (verb == "gauge") {
      arity(w, 2, 2, "gauge FILE.gau");
      host::ModuleOptions options;
      options.simulator = simulator_;
      try {
        modules_.push_back(host::Module::Load(resolve(w[1], true), options));
      } catch (const std::exception& e) {
        error(e.what());
      }
      gauge_ = modules_.back().get();
      gauge_->start();
    } else if (verb == "set") {
      arity(w, 3, 3, "set ID VALUE");
      simulator_->setVariable(static_cast<uint32_t>(integer(w[1], "variable id")), real(w[2], "value"));
    } else if (verb == "click" || verb == "drag") {
      const bool drag = verb == "drag";
      if (drag ? w.size() < 4 : w.size() != 3) error(drag ? "expected \"drag X Y0 Y1 [Y2 ...]\"" : "expected \"click X Y\"");
      const int32_t x = integer(w[1], "X");
      std::vector<int32_t> ys;
      for (size_t i = 2; i < w.size(); ++i) ys.push_back(integer(w[i], "Y"));
      host::Module& m = current();
      if (!m.mouseAreasRegistered()) error(m.deliverable() + " has no mouse areas");
      if (!m.gesture(x, ys)) out_ << "  (" << x << ", " << ys[0] << ") is outside every mouse area\n";
    } else if (verb == "update") {
      arity(w, 1, 1, "update");
      current().update();
      current().draw();
    } else if (verb == "render") {
      arity(w, 2, 2, "render FILE.png");
      host::Module& m = current();
      m.update();
      m.draw();
      const std::string png = resolve(w[1], false);
      render::writePng(m.frame(), png);
      out_ << "  wrote " << png << "\n";
    } else if (verb == "expect") {
      return expect(w);
    } else {
      error("unknown step \"" + verb + "\"");
    }
    return true;
  }

  std::string path_;
  ScenarioOptions options_;
  std::ostream& out_;
  std::shared_ptr<host::Simulator> simulator_;
  std::vector<std::unique_ptr<host::Module>> modules_;
  host::Module* gauge_ = nullptr;
  int line_ = 0;
  size_t printed_ = 0;
  size_t expected_ = 0;
};

}  // namespace

int RunScenario(const std::string& path, const ScenarioOptions& options, std::ostream& out) {
  return Scenario(path, options, out).run();
}

}  // namespace cli
