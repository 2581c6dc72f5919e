#include "panel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "config.h"
#include "layout.h"
#include "pe/pe.h"
#include "picture.h"

namespace panel {
namespace {

namespace fs = std::filesystem;

constexpr render::Rgba kPlaceholderBackground{44, 46, 50, 255};
constexpr int kDefaultWindowW = 640, kDefaultWindowH = 480;
constexpr int kMaxPlainSide = 4096;  // a plain background stands in for a missing one up to this
constexpr int kPlaceholderMm = 40;  // side of a failed gauge's box when its size is unknown

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SameText(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// A file named as a panel builder on Windows names it: relative to `folder`, either slash, any
// letter case. Returns the path on disk, or nullopt.
std::optional<fs::path> FindFile(const fs::path& folder, std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  fs::path wanted(name);
  if (!wanted.is_absolute()) wanted = folder / wanted;
  std::error_code ec;
  if (fs::is_regular_file(wanted, ec)) return wanted;
  // Walk the parts, matching each without regard to case.
  fs::path at = wanted.root_path();
  for (const fs::path& part : wanted.relative_path()) {
    fs::path next = at / part;
    if (!fs::exists(next, ec)) {
      std::optional<fs::path> match;
      for (fs::directory_iterator it(at.empty() ? "." : at, ec), end; !ec && it != end; it.increment(ec))
        if (SameText(it->path().filename().string(), part.string())) match = it->path();
      if (!match) return std::nullopt;
      next = *match;
    }
    at = next;
  }
  if (fs::is_regular_file(at, ec)) return at;
  return std::nullopt;
}

uint32_t Word(std::span<const uint8_t> bytes) {
  uint32_t v;
  std::memcpy(&v, bytes.data(), 4);
  return v;
}

// The gauge name a module file's GaugeHeader carries, read from the file without running it.
std::string StaticGaugeName(const pe::Image& image) {
  const pe::Export* linkage = image.findExport("Linkage");
  if (linkage == nullptr) throw std::runtime_error("no `Linkage` export; not a gauge module");
  const auto rva = [&](uint32_t address, const char* what) {
    if (address < image.imageBase) throw std::runtime_error(std::string(what) + " address outside the image");
    return address - image.imageBase;
  };
  const uint32_t header = Word(image.rvaBytes(linkage->rva + 4 * layout::linkage::gaugeList, 4));
  if (header == 0) throw std::runtime_error("`Linkage` lists no gauge");
  const uint32_t name = rva(Word(image.rvaBytes(rva(header, "GaugeHeader") + 4 * layout::gauge_header::name, 4)), "gauge name");
  std::string out;
  for (uint32_t i = 0; i < 256; ++i) {
    const char c = static_cast<char>(image.rvaBytes(name + i, 1)[0]);
    if (c == '\0') return out;
    out += c;
  }
  throw std::runtime_error("the gauge name is not terminated");
}

// The .gau files of the gauges folder and the gauge each holds.
class GaugeIndex {
 public:
  struct Entry {
    fs::path path;
    std::string stem;       // file name without .gau
    std::string gaugeName;  // empty when unreadable: then `problem` says why
    std::string problem;
  };

  explicit GaugeIndex(const std::string& folder) : folder_(folder) {
    std::error_code ec;
    if (!fs::is_directory(folder_, ec)) {
      missing_ = true;
      return;
    }
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
      if (!it->is_regular_file(ec) || Lower(it->path().extension().string()) != ".gau") continue;
      Entry e{it->path(), it->path().stem().string(), {}, {}};
      try {
        e.gaugeName = StaticGaugeName(pe::load(e.path.string()));
      } catch (const std::exception& ex) {
        e.problem = ex.what();
      }
      entries_.push_back(std::move(e));
    }
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
  }

  bool missing() const { return missing_; }

  // The module file for a name as panel.cfg writes it; throws with the reason when none fits.
  fs::path resolve(const std::string& name) const {
    if (missing_) throw std::runtime_error("the gauges folder " + folder_ + " does not exist");
    if (const size_t bang = name.find('!'); bang != std::string::npos) {
      return inModule(name.substr(0, bang), name.substr(bang + 1));
    }
    if (const Entry* e = byGaugeName(name)) return e->path;
    // module.gauge: any dot may part the two, since gauge names hold dots themselves.
    for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1)) {
      const Entry* e = byStem(name.substr(0, dot));
      if (e != nullptr && SameText(e->gaugeName, name.substr(dot + 1))) return e->path;
    }
    std::string message = "no module in " + folder_ + " holds a gauge named " + Quoted(name);
    std::string unreadable;
    for (const Entry& e : entries_)
      if (!e.problem.empty()) unreadable += (unreadable.empty() ? "" : ", ") + e.path.filename().string();
    if (!unreadable.empty()) message += " (unreadable: " + unreadable + ")";
    throw std::runtime_error(message);
  }

 private:
  const Entry* byStem(std::string stem) const {
    if (Lower(stem).ends_with(".gau")) stem.resize(stem.size() - 4);
    for (const Entry& e : entries_)
      if (SameText(e.stem, stem)) return &e;
    return nullptr;
  }
  const Entry* byGaugeName(const std::string& gauge) const {
    for (const Entry& e : entries_)
      if (e.gaugeName == gauge) return &e;
    for (const Entry& e : entries_)
      if (!e.gaugeName.empty() && SameText(e.gaugeName, gauge)) return &e;
    return nullptr;
  }
  fs::path inModule(const std::string& module, const std::string& gauge) const {
    const Entry* e = byStem(module);
    if (e == nullptr) throw std::runtime_error("no module file " + module + ".gau in " + folder_);
    // An unreadable header is Module::Load's to report, with the same words it uses everywhere.
    if (!e->problem.empty() || gauge.empty() || SameText(e->gaugeName, gauge)) return e->path;
    throw std::runtime_error(e->path.filename().string() + " holds the gauge " + Quoted(e->gaugeName) + ", not " + Quoted(gauge));
  }

  std::string folder_;
  bool missing_ = false;
  std::vector<Entry> entries_;
};

render::Image Opaque(render::Image image) {
  for (render::Rgba& p : image.pixels) p.a = 255;
  return image;
}

int Scaled(double v) { return std::max(1, static_cast<int>(std::lround(v))); }

// floor(a * b / c) for c > 0, exact for every int input.
int FloorScale(int a, int b, int c) {
  const int64_t n = int64_t{a} * b;
  int64_t q = n / c;
  if ((n % c != 0) && (n < 0)) --q;
  return static_cast<int>(q);
}

}  // namespace

std::string Warning::text() const {
  return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

// The panel closes as the simulator closes one: GaugeKill for every gauge still running.
Panel::~Panel() {
  for (Window& w : windows_)
    for (Placement& p : w.gauges) {
      if (!p.module) continue;
      try {
        p.module->kill();
      } catch (const std::exception&) {
        // A gauge that faults on its way out has nothing left to show or tell.
      }
    }
}

std::unique_ptr<Panel> Panel::Load(const std::string& cfgPath, const std::string& gaugesDir) {
  std::ifstream in(cfgPath);
  if (!in) throw std::runtime_error("cannot open panel configuration " + cfgPath + ": " + std::strerror(errno));
  std::unique_ptr<Panel> panel(new Panel());
  panel->cfgPath_ = cfgPath;
  panel->simulator_ = std::make_shared<host::Simulator>();
  Config config = ParseConfig(in, cfgPath);
  panel->warnings_ = std::move(config.warnings);
  auto warn = [&](int line, const std::string& message) { panel->warnings_.push_back({cfgPath, line, message}); };

  const fs::path folder = fs::path(cfgPath).parent_path();
  const GaugeIndex index(gaugesDir);
  if (index.missing()) warn(0, "the gauges folder " + gaugesDir + " does not exist; no gauge can be loaded");

  for (WindowConfig& wc : config.windows) {
    Window w;
    w.number = wc.number;
    w.title = wc.title;
    w.ident = wc.ident;
    w.file = wc.file;
    w.sizeRatio = wc.sizeRatio;
    w.positionCode = wc.positionCode;
    w.visible = wc.visible;
    const std::string section = "[Window" + std::string(wc.number < 10 ? "0" : "") + std::to_string(wc.number) + "]";

    std::string problem;
    if (w.file.empty()) {
      problem = "names no background (file=)";
    } else if (const auto path = FindFile(folder.empty() ? fs::path(".") : folder, w.file)) {
      try {
        std::ifstream f(*path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        w.background = Opaque(render::decodeBmpFile(bytes));
      } catch (const std::exception& e) {
        problem = "background " + w.file + ": " + e.what();
      }
    } else {
      problem = "background " + w.file + " not found next to the configuration";
    }
    if (!problem.empty()) {
      const int pw = std::min(wc.sizeMmW.value_or(kDefaultWindowW), kMaxPlainSide);
      const int ph = std::min(wc.sizeMmH.value_or(kDefaultWindowH), kMaxPlainSide);
      w.background = render::makeImage(pw, ph, kPlaceholderBackground);
      warn(wc.line, section + " " + problem + "; drawn on a plain " + std::to_string(pw) + " x " + std::to_string(ph) + " background");
    }
    if (wc.sizeMmW && wc.sizeMmH) {
      w.sizeMmW = *wc.sizeMmW, w.sizeMmH = *wc.sizeMmH;
    } else {
      w.sizeMmW = w.background.width, w.sizeMmH = w.background.height;
      if (std::any_of(wc.gauges.begin(), wc.gauges.end(), [](const GaugeLine& g) { return !g.w; }))
        warn(wc.line, section + " has no size_mm; gauges without a width are sized at 1 mm per background pixel");
    }
    const double pixelsPerMm = static_cast<double>(w.background.width) / w.sizeMmW;

    for (GaugeLine& g : wc.gauges) {
      Placement p;
      p.name = g.name;
      p.x = g.x, p.y = g.y;
      p.line = g.line;
      p.error = g.error;  // already warned by the parser
      std::optional<uint32_t> designMm;
      if (p.error.empty()) {
        try {
          const fs::path file = index.resolve(g.name);
          host::ModuleOptions options;
          options.simulator = panel->simulator_;
          p.module = host::Module::Load(file.string(), options);
          designMm = p.module->headerWord(11);
          p.module->install();
          p.module->initialize();
          p.module->update();
          p.module->draw();
          if (p.module->frame().width <= 0 || p.module->frame().height <= 0) throw std::runtime_error("the gauge drew an empty frame");
        } catch (const std::exception& e) {
          p.error = e.what();
          p.module.reset();
          warn(g.line, Quoted(g.name) + ": " + p.error);
        }
      }
      if (p.module) {
        const int fw = p.module->frame().width, fh = p.module->frame().height;
        if (g.w) {
          p.w = *g.w;
          p.h = g.h ? *g.h : Scaled(static_cast<double>(*g.w) * fh / fw);
        } else if (*designMm == 0 || *designMm > 10000) {
          p.w = fw, p.h = fh;
          warn(g.line, Quoted(g.name) + ": header word 11 is " + std::to_string(*designMm) +
                           ", not a width in millimetres; drawn at its own " + std::to_string(fw) + " x " + std::to_string(fh) + " pixels");
        } else {
          p.w = Scaled(*designMm * pixelsPerMm);
          p.h = Scaled(static_cast<double>(p.w) * fh / fw);
        }
      } else {
        const double mm = designMm && *designMm > 0 && *designMm <= 10000 ? *designMm : kPlaceholderMm;
        p.w = g.w ? *g.w : Scaled(mm * pixelsPerMm);
        p.h = g.h ? *g.h : p.w;
      }
      w.gauges.push_back(std::move(p));
    }
    panel->windows_.push_back(std::move(w));
  }
  if (panel->windows_.empty()) warn(0, "no [WindowNN] section; the panel has no window");
  return panel;
}

Window& Panel::window(int windowIndex) {
  if (windowIndex < 0 || static_cast<size_t>(windowIndex) >= windows_.size())
    throw std::out_of_range("panel has no window " + std::to_string(windowIndex) + " (it has " + std::to_string(windows_.size()) + ")");
  return windows_[static_cast<size_t>(windowIndex)];
}

void Panel::fail(Placement& p, const std::string& what) {
  p.error = what;
  p.module.reset();
  warnings_.push_back({cfgPath_, p.line, Quoted(p.name) + ": " + what});
  if (pressed_ && &windows_[static_cast<size_t>(pressedWindow_)].gauges[static_cast<size_t>(pressedGauge_)] == &p) pressed_ = false;
}

void Panel::update() {
  for (Window& w : windows_)
    for (Placement& p : w.gauges) {
      if (!p.module) continue;
      try {
        p.module->update();
      } catch (const std::exception& e) {
        fail(p, std::string("while updating: ") + e.what());
      }
    }
}

render::Image Panel::draw(int windowIndex) {
  Window& w = window(windowIndex);
  render::Image out = w.background;
  for (Placement& p : w.gauges) {
    if (p.module) {
      try {
        p.module->draw();
        drawScaled(out, p.module->frame(), p.x, p.y, p.w, p.h);
        continue;
      } catch (const std::exception& e) {
        fail(p, std::string("while drawing: ") + e.what());
      }
    }
    drawPlaceholder(out, p.x, p.y, p.w, p.h);
  }
  return out;
}

void Panel::toGauge(const Placement& p, int x, int y, int& gx, int& gy) {
  gx = FloorScale(x - p.x, p.module->frame().width, p.w);
  gy = FloorScale(y - p.y, p.module->frame().height, p.h);
}

bool Panel::press(int windowIndex, int x, int y) {
  Window& w = window(windowIndex);
  if (pressed_) release(pressedWindow_, x, y);
  for (int i = static_cast<int>(w.gauges.size()) - 1; i >= 0; --i) {
    Placement& p = w.gauges[static_cast<size_t>(i)];
    if (!p.module || x < p.x || y < p.y || x >= p.x + p.w || y >= p.y + p.h) continue;
    int gx, gy;
    toGauge(p, x, y, gx, gy);
    if (p.module->areaAt(gx, gy) == nullptr) continue;
    pressed_ = true;
    pressedWindow_ = windowIndex, pressedGauge_ = i;
    try {
      p.module->press(gx, gy);
    } catch (const std::exception& e) {
      fail(p, std::string("while handling a press: ") + e.what());
    }
    return true;
  }
  return false;
}

void Panel::move(int windowIndex, int x, int y) {
  if (!pressed_ || windowIndex != pressedWindow_) return;
  Placement& p = window(windowIndex).gauges[static_cast<size_t>(pressedGauge_)];
  int gx, gy;
  toGauge(p, x, y, gx, gy);
  try {
    p.module->move(gx, gy);
  } catch (const std::exception& e) {
    fail(p, std::string("while handling a drag: ") + e.what());
  }
}

void Panel::release(int windowIndex, int x, int y) {
  if (!pressed_ || windowIndex != pressedWindow_) return;
  pressed_ = false;
  Placement& p = window(windowIndex).gauges[static_cast<size_t>(pressedGauge_)];
  int gx, gy;
  toGauge(p, x, y, gx, gy);
  p.module->release(gx, gy);
}

}  // namespace panel
