#include "module.h"

#include <cxxabi.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "layout.h"
#include "win32.h"

namespace host {
namespace {

constexpr uint32_t kDllProcessAttach = 1;
constexpr int kMaxTreeDepth = 16;
constexpr int kMaxChildren = 256;
constexpr int kMaxMouseAreas = 512;
constexpr uint16_t kBitmapType = 2;

using guest::Hex;

uint32_t Word(uint32_t record, unsigned word) { return record + 4 * word; }

// The name of a COFF symbol as people write it: stdcall suffix and C underscore dropped, C++
// names demangled without return type, parameters or anonymous namespace.
std::string PlainSymbolName(std::string name) {
  if (auto at = name.rfind('@'); at != std::string::npos && at > 0) name.resize(at);
  if (!name.empty() && name[0] == '_') name.erase(0, 1);
  int status = 0;
  char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  if (status != 0 || demangled == nullptr) return name;
  std::string d = demangled;
  std::free(demangled);
  for (size_t at; (at = d.find("(anonymous namespace)::")) != std::string::npos;) d.erase(at, 23);
  // Drop the parameter list: the parenthesis matching the final one.
  if (!d.empty() && d.back() == ')') {
    int depth = 0;
    for (size_t i = d.size(); i-- > 0;) {
      if (d[i] == ')') ++depth;
      if (d[i] == '(' && --depth == 0) {
        d.resize(i);
        break;
      }
    }
  }
  // Drop a return type: everything up to the last space outside template brackets.
  int angle = 0;
  size_t start = 0;
  for (size_t i = 0; i < d.size(); ++i) {
    if (d[i] == '<') ++angle;
    if (d[i] == '>') --angle;
    if (d[i] == ' ' && angle == 0) start = i + 1;
  }
  d.erase(0, start);
  return d;
}

const pe::Symbol* SymbolAt(const pe::Image& image, uint32_t rva) {
  for (const pe::Symbol& s : image.symbols) {
    if (s.section <= 0 || static_cast<size_t>(s.section) > image.sections.size()) continue;
    if (s.storageClass != 2 && s.storageClass != 3) continue;
    if (s.name.empty() || s.name[0] == '.') continue;
    if (image.sections[s.section - 1].virtualAddress + s.value == rva) return &s;
  }
  return nullptr;
}

}  // namespace

std::string Module::routineName(uint32_t address) const {
  if (address >= base_) {
    if (const pe::Symbol* s = SymbolAt(image_, address - base_)) return PlainSymbolName(s->name) + " at " + Hex(address);
  }
  return "routine at " + Hex(address);
}

std::optional<uint32_t> Module::symbolAddress(std::string_view name) const {
  for (const pe::Symbol& s : image_.symbols) {
    if (s.section <= 0 || static_cast<size_t>(s.section) > image_.sections.size()) continue;
    std::string plain = PlainSymbolName(s.name);
    if (auto colons = plain.rfind("::"); colons != std::string::npos) plain.erase(0, colons + 2);
    if (plain == name) return base_ + image_.sections[s.section - 1].virtualAddress + s.value;
  }
  return std::nullopt;
}


const char* ElementKindName(uint32_t kind) {
  switch (kind) {
    case layout::element::kStaticImage: return "StaticImage";
    case layout::element::kNeedle: return "Needle";
    case layout::element::kSlider: return "Slider";
    case layout::element::kIcon: return "Icon";
  }
  return "unknown";
}

std::unique_ptr<Module> Module::Load(const std::string& path, ModuleOptions options) {
  std::unique_ptr<Module> m(new Module());
  m->path_ = path;
  m->deliverable_ = std::filesystem::path(path).stem().string();
  try {
    m->image_ = pe::load(path);
  } catch (const pe::Error& e) {
    throw LoadError(path + ": " + e.what());
  }
  if (m->image_.machine != 0x14C) throw LoadError(path + ": not an i386 image");
  if (!m->image_.isDll()) throw LoadError(path + ": not a DLL");
  m->simulator_ = options.simulator ? options.simulator : std::make_shared<Simulator>();
  m->machine_ = std::make_unique<guest::Machine>();
  m->machine_->setBudget(options.budget);
  m->win32_ = std::make_unique<win32::State>();
  m->base_ = options.loadBase.value_or(m->image_.imageBase);
  try {
    m->map();
    m->bindImports();
    m->buildServiceTable();
  } catch (const LoadError&) {
    throw;
  } catch (const std::exception& e) {
    throw LoadError(path + ": " + e.what());
  }

  // Windows calls the entry routine for process attach with the instance handle.
  if (m->image_.entryRva != 0) {
    const uint32_t ok = m->run("module entry routine", m->base_ + m->image_.entryRva,
                               {m->base_, kDllProcessAttach, 0});
    if (ok == 0) throw LoadError(path + ": the entry routine reported failure on process attach");
  }

  const pe::Export* linkage = m->image_.findExport("Linkage");
  const pe::Export* imports = m->image_.findExport("ImportTable");
  if (linkage == nullptr) throw LoadError(path + ": no `Linkage` export; not a gauge module");
  if (imports == nullptr) throw LoadError(path + ": no `ImportTable` export; not a gauge module");
  m->linkage_ = m->base_ + linkage->rva;
  m->importTable_ = m->base_ + imports->rva;
  try {
    m->header_ = m->machine_->read32(Word(m->linkage_, layout::linkage::gaugeList));
    if (m->header_ == 0) throw LoadError(path + ": `Linkage` lists no gauge");
    m->machine_->read32(Word(m->header_, layout::gauge_header::words - 1));
    m->machine_->write32(Word(m->importTable_, layout::import_table::serviceTable), m->serviceTable_);
  } catch (const LoadError&) {
    throw;
  } catch (const std::exception& e) {
    throw LoadError(path + ": unreadable `Linkage` or GaugeHeader: " + e.what());
  }
  return m;
}

Module::~Module() = default;

void Module::map() {
  const uint32_t size = (image_.sizeOfImage + 0xFFF) & ~0xFFFu;
  if (size == 0 || (base_ & 0xFFF) != 0) throw LoadError(path_ + ": bad image size or base");
  const uint64_t end = static_cast<uint64_t>(base_) + size;
  auto overlaps = [&](uint32_t start, uint32_t length) { return base_ < start + length && end > start; };
  if (end > 0x7FFC0000u || base_ < 0x00010000u || overlaps(guest::Machine::kStackBase, guest::Machine::kStackSize) ||
      overlaps(guest::Machine::kHeapBase, guest::Machine::kHeapSize)) {
    throw LoadError(path_ + ": image at " + Hex(base_) + " (" + Hex(size) + " bytes) does not fit the guest address space");
  }
  machine_->map(base_, size, UC_PROT_ALL);
  std::vector<uint8_t> bytes = image_.layout();
  // Base relocations: every HIGHLOW word moves by the distance from the preferred base.
  const uint32_t delta = base_ - image_.imageBase;
  if (delta != 0) {
    for (const pe::Relocation& r : image_.relocations) {
      if (r.type != 3) continue;
      if (static_cast<uint64_t>(r.rva) + 4 > bytes.size()) throw LoadError(path_ + ": relocation outside the image at RVA " + Hex(r.rva));
      uint32_t v;
      std::memcpy(&v, bytes.data() + r.rva, 4);
      v += delta;
      std::memcpy(bytes.data() + r.rva, &v, 4);
    }
  }
  machine_->write(base_, bytes.data(), bytes.size());
  // Page protections as the sections ask, so stray writes to code or constants fault.
  machine_->protect(base_, size, UC_PROT_READ);
  for (const pe::Section& s : image_.sections) {
    const uint32_t start = s.virtualAddress & ~0xFFFu;
    const uint32_t length = ((s.virtualAddress + std::max(s.virtualSize, s.rawSize) + 0xFFF) & ~0xFFFu) - start;
    if (length == 0 || static_cast<uint64_t>(start) + length > size) continue;
    uint32_t perms = UC_PROT_READ;
    if (s.writable()) perms |= UC_PROT_WRITE;
    if (s.executable()) perms |= UC_PROT_EXEC;
    machine_->protect(base_ + start, length, perms);
  }
}

void Module::bindImports() {
  for (const pe::Import& imp : image_.imports) {
    const std::string name = imp.dll + "!" + (imp.byOrdinal ? "#" + std::to_string(imp.ordinal) : imp.function);
    const win32::Stub* stub = imp.byOrdinal ? nullptr : win32::FindStub(imp.dll, imp.function);
    if (stub == nullptr) throw LoadError(path_ + ": imports " + name + ", which the bench does not provide");
    const win32::Handler handler = stub->handler;
    const uint32_t trap = machine_->addTrap(name, stub->argCount, [this, handler, name](guest::TrapCall& call) {
      ++apiCalls_[name];
      return handler(*this, call);
    });
    machine_->write32(base_ + imp.iatRva, trap);
  }
}

void Module::buildServiceTable() {
  namespace s = layout::service;
  serviceTable_ = machine_->alloc(4 * s::slots);
  auto add = [&](unsigned slot, const char* name, unsigned args, guest::TrapHandler handler) {
    const uint32_t trap = machine_->addTrap(name, args, [this, name, handler](guest::TrapCall& call) {
      ServiceCall c{name, {}};
      for (unsigned i = 0; i < call.argCount(); ++i) c.args.push_back(call.arg(i));
      calls_.push_back(std::move(c));
      return handler(call);
    });
    machine_->write32(Word(serviceTable_, slot), trap);
  };
  for (unsigned slot = 0; slot < s::slots; ++slot) {
    // Slots the gauges never call trap with an error naming the slot.
    const uint32_t trap = machine_->addTrap("HostServiceTable slot " + std::to_string(slot) + ", which the bench does not implement", 0, nullptr);
    machine_->write32(Word(serviceTable_, slot), trap);
  }
  add(s::queryElements, "HostQueryElements", 1, [this](guest::TrapCall& c) { return serviceQuery(c.arg(0)); });
  add(s::installElements, "HostInstallElements", 2, [this](guest::TrapCall& c) { serviceInstall(c.arg(0), c.arg(1)); return 0u; });
  add(s::initElements, "HostInitElements", 1, [this](guest::TrapCall& c) { serviceInit(c.arg(0)); return 0u; });
  add(s::updateElements, "HostUpdateElements", 1, [this](guest::TrapCall& c) { serviceUpdate(c.arg(0)); return 0u; });
  add(s::generateElements, "HostGenerateElements", 2, [this](guest::TrapCall& c) { serviceGenerate(c.arg(0), c.arg(1)); return 0u; });
  add(s::drawElements, "HostDrawElements", 1, [this](guest::TrapCall& c) { serviceDraw(c.arg(0)); return 0u; });
  add(s::killElements, "HostKillElements", 1, [this](guest::TrapCall& c) { serviceKill(c.arg(0)); return 0u; });
  add(s::installMouseAreas, "HostInstallMouseAreas", 3, [this](guest::TrapCall& c) { serviceInstallMouseAreas(c.arg(0), c.arg(1), c.arg(2)); return 0u; });
  add(s::registerMouseAreas, "HostRegisterMouseAreas", 2, [this](guest::TrapCall& c) { serviceRegisterMouseAreas(c.arg(0), c.arg(1)); return 0u; });
  add(s::unregisterMouseAreas, "HostUnregisterMouseAreas", 2, [this](guest::TrapCall& c) { serviceUnregisterMouseAreas(c.arg(0), c.arg(1)); return 0u; });
  add(s::sendKeyEvent, "HostSendKeyEvent", 2, [this](guest::TrapCall& c) { serviceSendKeyEvent(c.arg(0), c.argSigned(1)); return 0u; });
}

uint32_t Module::run(const std::string& routine, uint32_t address, std::vector<uint32_t> args) {
  const std::string named = routine + " of " + deliverable_ + " (" + routineName(address) + ")";
  const guest::CallResult r = machine_->call(address, args, named);
  lastInstructions_ = r.instructions;
  return r.eax;
}

std::string Module::gaugeName() const {
  return machine_->readCString(headerWord(layout::gauge_header::name));
}

uint32_t Module::headerWord(unsigned word) const { return machine_->read32(Word(header_, word)); }

uint32_t Module::rootElement() const { return machine_->read32(headerWord(layout::gauge_header::rootElement)); }

// Lifecycle ------------------------------------------------------------------------------------

int32_t Module::query() {
  return static_cast<int32_t>(run("GaugeQuery", headerWord(layout::gauge_header::query), {}));
}
void Module::install() { run("GaugeInstall", headerWord(layout::gauge_header::install), {base_}); }
void Module::initialize() { run("GaugeInitialize", headerWord(layout::gauge_header::initialize), {}); }
void Module::update() { run("GaugeUpdate", headerWord(layout::gauge_header::update), {}); }
void Module::generate(uint32_t word) { run("GaugeGenerate", headerWord(layout::gauge_header::generate), {word}); }
void Module::draw() { run("GaugeDraw", headerWord(layout::gauge_header::draw), {}); }
void Module::start() {
  install();
  initialize();
  update();
  draw();
}

void Module::kill() { run("GaugeKill", headerWord(layout::gauge_header::kill), {}); }

double Module::callUpdateCallback(uint32_t callback, uint32_t variableAddress) {
  const uint32_t args[] = {variableAddress};
  const guest::CallResult r = machine_->call(callback, args, "update callback " + routineName(callback) + " of " + deliverable_, true);
  lastInstructions_ = r.instructions;
  return r.st0;
}

uint32_t Module::callMouseHandler(uint32_t handler, int32_t x, int32_t y, uint32_t word) {
  // The PointerPosition lives in host memory the handler may read for the length of the call.
  const uint32_t position = machine_->alloc(8);
  machine_->write32(position, static_cast<uint32_t>(x));
  machine_->write32(position + 4, static_cast<uint32_t>(y));
  const uint32_t args[] = {position, word};
  try {
    const guest::CallResult r = machine_->call(handler, args, "mouse handler " + routineName(handler) + " of " + deliverable_);
    lastInstructions_ = r.instructions;
    machine_->free(position);
    return r.eax;
  } catch (...) {
    machine_->free(position);
    throw;
  }
}

// The element tree ----------------------------------------------------------------------------

ElementView Module::readElement(uint32_t address, int depth) const {
  namespace e = layout::element;
  ElementView v;
  v.address = address;
  v.depth = depth;
  v.kind = machine_->read32(Word(address, e::kind));
  v.resourceId = machine_->read32(Word(address, e::resourceId));
  v.x = static_cast<int32_t>(machine_->read32(Word(address, e::position)));
  v.y = static_cast<int32_t>(machine_->read32(Word(address, e::position + 1)));
  v.pivotX = static_cast<int32_t>(machine_->read32(Word(address, e::pivot)));
  v.pivotY = static_cast<int32_t>(machine_->read32(Word(address, e::pivot + 1)));
  v.gaugeHeader = machine_->read32(Word(address, e::gaugeHeader));
  v.children = machine_->read32(Word(address, e::children));
  v.failures = machine_->read32(Word(address, e::failures));
  v.drawFlags = machine_->read32(Word(address, e::drawFlags));
  if (v.kind != e::kStaticImage && v.kind != e::kNeedle && v.kind != e::kSlider && v.kind != e::kIcon)
    throw std::runtime_error("element at " + Hex(address) + " has unknown kind " + std::to_string(v.kind));
  return v;
}

void Module::walk(uint32_t element, int depth, std::vector<ElementView>& out, std::vector<uint32_t>& seen) const {
  if (depth > kMaxTreeDepth) throw std::runtime_error("element tree deeper than " + std::to_string(kMaxTreeDepth) + " at " + Hex(element));
  if (std::find(seen.begin(), seen.end(), element) != seen.end())
    throw std::runtime_error("element at " + Hex(element) + " appears twice in the tree");
  seen.push_back(element);
  out.push_back(readElement(element, depth));
  const uint32_t children = out.back().children;
  if (children == 0) return;
  for (int i = 0;; ++i) {
    if (i > kMaxChildren) throw std::runtime_error("child list at " + Hex(children) + " is not closed by 0");
    const uint32_t child = machine_->read32(children + 4 * i);
    if (child == 0) break;
    walk(child, depth + 1, out, seen);
  }
}

std::vector<ElementView> Module::tree(uint32_t root) const {
  std::vector<ElementView> out;
  std::vector<uint32_t> seen;
  walk(root, 0, out, seen);
  return out;
}

std::vector<ElementView> Module::elements() const { return tree(rootElement()); }

std::optional<std::span<const uint8_t>> Module::resource(const pe::ResName& type, const pe::ResName& name) const {
  const pe::Resource* r = image_.findResource(type, name);
  if (r == nullptr) return std::nullopt;
  return image_.resourceData(*r);
}

render::Image Module::bitmap(uint32_t resourceId) const {
  pe::ResName type;
  type.id = kBitmapType;
  pe::ResName name;
  name.id = static_cast<uint16_t>(resourceId);
  auto data = resourceId <= 0xFFFF ? resource(type, name) : std::nullopt;
  if (!data) throw std::runtime_error(deliverable_ + " has no bitmap resource " + std::to_string(resourceId));
  try {
    return render::decodeDib(*data);
  } catch (const std::exception& e) {
    throw std::runtime_error("bitmap resource " + std::to_string(resourceId) + " of " + deliverable_ + ": " + e.what());
  }
}

double Module::shownValue(uint32_t element, int axis) const {
  auto it = loaded_.find(element);
  return it == loaded_.end() ? 0.0 : it->second.shown[axis == 1 ? 1 : 0];
}

// Host services: elements ---------------------------------------------------------------------

uint32_t Module::serviceQuery(uint32_t root) {
  return static_cast<uint32_t>(tree(root).size());  // the host answers with the number of elements
}

void Module::serviceInstall(uint32_t root, uint32_t /*moduleHandle*/) {
  const std::vector<ElementView> all = tree(root);
  for (const ElementView& v : all) {
    if (loaded_.count(v.address)) continue;  // installed already
    Loaded l;
    l.kind = v.kind;
    const unsigned count = v.kind == layout::element::kIcon
                               ? machine_->read32(Word(v.address, layout::icon::pictureCount))
                               : 1;
    if (count == 0 || count > 64) throw std::runtime_error("Icon at " + Hex(v.address) + " has " + std::to_string(count) + " pictures");
    for (unsigned k = 0; k < count; ++k) {
      l.pictures.push_back(bitmap(v.resourceId + layout::icon::kPictureIdStep * k));
      const uint32_t record = machine_->alloc(16);
      machine_->write32(Word(record, 0), static_cast<uint32_t>(loaded_.size() * 64 + k));
      machine_->write32(Word(record, layout::image_record::width), static_cast<uint32_t>(l.pictures.back().width));
      machine_->write32(Word(record, layout::image_record::height), static_cast<uint32_t>(l.pictures.back().height));
      l.imageRecords.push_back(record);
    }
    if (v.kind == layout::element::kIcon) {
      l.pictureTable = machine_->alloc(4 * count);
      for (unsigned k = 0; k < count; ++k) machine_->write32(l.pictureTable + 4 * k, l.imageRecords[k]);
      machine_->write32(Word(v.address, layout::icon::pictures), l.pictureTable);
    } else if (v.kind == layout::element::kStaticImage) {
      machine_->write32(Word(v.address, layout::static_image::image), l.imageRecords[0]);
    }
    loaded_[v.address] = std::move(l);
  }
  installed_ = true;
}

void Module::serviceInit(uint32_t) {}

void Module::updateVariable(uint32_t variable) {
  const uint32_t id = machine_->read32(Word(variable, layout::host_variable::id));
  if (id != 0) machine_->writeDouble(Word(variable, layout::host_variable::value), simulator_->variable(id));
}

double Module::shownFor(uint32_t variable, uint32_t callback) {
  if (callback != 0) return callUpdateCallback(callback, variable);
  return machine_->readDouble(Word(variable, layout::host_variable::value));
}

void Module::serviceUpdate(uint32_t root) {
  const std::vector<ElementView> all = tree(root);
  for (const ElementView& v : all) {
    auto it = loaded_.find(v.address);
    if (it == loaded_.end()) continue;  // not installed: nothing to update
    Loaded& l = it->second;
    if (v.kind == layout::element::kNeedle || v.kind == layout::element::kIcon) {
      const uint32_t variable = Word(v.address, layout::needle::variable);  // same word in both
      updateVariable(variable);
      l.shown[0] = shownFor(variable, machine_->read32(Word(v.address, layout::needle::updateCallback)));
    } else if (v.kind == layout::element::kSlider) {
      for (int axis = 0; axis < 2; ++axis) {
        const uint32_t a = Word(v.address, axis == 0 ? layout::slider::xAxis : layout::slider::yAxis);
        updateVariable(Word(a, layout::slider_axis::variable));
        l.shown[axis] = shownFor(Word(a, layout::slider_axis::variable),
                                 machine_->read32(Word(a, layout::slider_axis::updateCallback)));
      }
    }
  }
}

void Module::serviceGenerate(uint32_t, uint32_t) {}

void Module::serviceDraw(uint32_t root) {
  const std::vector<ElementView> all = tree(root);
  auto rootIt = loaded_.find(root);
  if (rootIt == loaded_.end()) throw std::runtime_error("HostDrawElements before HostInstallElements");
  const render::Image& rootPicture = rootIt->second.pictures[0];
  render::Image frame;
  frame.width = rootPicture.width;
  frame.height = rootPicture.height;
  frame.pixels.assign(static_cast<size_t>(frame.width) * frame.height, render::Rgba{0, 0, 0, 0});
  for (const ElementView& v : all) {
    auto it = loaded_.find(v.address);
    if (it == loaded_.end()) continue;
    const Loaded& l = it->second;
    switch (v.kind) {
      case layout::element::kStaticImage:
        render::blit(frame, l.pictures[0], v.x, v.y);
        break;
      case layout::element::kIcon: {
        // The picture named by the shown value; a value outside the pictures shows the nearest.
        const double shown = l.shown[0];
        long k = std::isnan(shown) ? 0 : static_cast<long>(std::clamp(std::trunc(shown), 0.0, 1e6));
        k = std::min<long>(k, static_cast<long>(l.pictures.size()) - 1);
        render::blit(frame, l.pictures[static_cast<size_t>(k)], v.x, v.y);
        break;
      }
      case layout::element::kSlider: {
        const double sx = machine_->readDouble(Word(Word(v.address, layout::slider::xAxis), layout::slider_axis::scale));
        const double sy = machine_->readDouble(Word(Word(v.address, layout::slider::yAxis), layout::slider_axis::scale));
        const double dx = l.shown[0] * sx, dy = l.shown[1] * sy;
        render::blit(frame, l.pictures[0], v.x + static_cast<int>(std::lround(std::isfinite(dx) ? dx : 0)),
                     v.y + static_cast<int>(std::lround(std::isfinite(dy) ? dy : 0)));
        break;
      }
      case layout::element::kNeedle: {
        const uint32_t rows = machine_->read32(Word(v.address, layout::needle::calibrationRows));
        const uint32_t table = machine_->read32(Word(v.address, layout::needle::calibration));
        if (rows == 0 || rows > 64) throw std::runtime_error("Needle at " + Hex(v.address) + " has " + std::to_string(rows) + " calibration rows");
        std::vector<render::CalibrationPoint> points;
        for (uint32_t i = 0; i < rows; ++i) {
          const uint32_t row = table + 4 * layout::calibration_row::words * i;
          points.push_back({static_cast<double>(static_cast<int32_t>(machine_->read32(Word(row, layout::calibration_row::x)))),
                            static_cast<double>(static_cast<int32_t>(machine_->read32(Word(row, layout::calibration_row::y)))),
                            machine_->readDouble(Word(row, layout::calibration_row::value))});
        }
        const double angle = render::needleAngle(points, v.x, v.y, l.shown[0]);
        render::blitRotated(frame, l.pictures[0], v.pivotX, v.pivotY, v.x, v.y, angle);
        break;
      }
    }
  }
  frame_ = std::move(frame);
}

void Module::serviceKill(uint32_t root) {
  const std::vector<ElementView> all = tree(root);
  for (const ElementView& v : all) {
    auto it = loaded_.find(v.address);
    if (it == loaded_.end()) continue;
    for (uint32_t record : it->second.imageRecords) machine_->free(record);
    if (it->second.pictureTable != 0) machine_->free(it->second.pictureTable);
    if (v.kind == layout::element::kStaticImage) machine_->write32(Word(v.address, layout::static_image::image), 0);
    if (v.kind == layout::element::kIcon) machine_->write32(Word(v.address, layout::icon::pictures), 0);
    loaded_.erase(it);
  }
  installed_ = !loaded_.empty();
}

// Host services: mouse areas and KeyEvents ------------------------------------------------------

std::vector<MouseAreaView> Module::readMouseAreas(uint32_t list) const {
  namespace a = layout::mouse_area;
  std::vector<MouseAreaView> out;
  std::vector<std::pair<int32_t, int32_t>> origins;  // open parents' absolute origins
  for (int i = 0;; ++i) {
    if (i >= kMaxMouseAreas) throw std::runtime_error("mouse area list at " + Hex(list) + " has no end record");
    const uint32_t r = list + 4 * a::words * i;
    MouseAreaView v;
    v.address = r;
    v.kind = machine_->read32(Word(r, a::kind));
    const auto box = [&](unsigned k) { return static_cast<int32_t>(machine_->read32(Word(r, a::box + k))); };
    v.cursor = static_cast<int32_t>(machine_->read32(Word(r, a::cursor)));
    v.helpId = machine_->read32(Word(r, a::helpId));
    v.mouseFlags = machine_->read32(Word(r, a::mouseFlags));
    v.handler = machine_->read32(Word(r, a::handler));
    const std::string where = "mouse area record " + std::to_string(i + 1) + " at " + Hex(r);
    const int32_t ox = origins.empty() ? 0 : origins.back().first;
    const int32_t oy = origins.empty() ? 0 : origins.back().second;
    v.depth = static_cast<int>(origins.size());
    switch (v.kind) {
      case a::kParent:
        if (v.handler != 0) throw std::runtime_error(where + ": a parent with a handler");
        v.x = ox + box(0), v.y = oy + box(1), v.width = box(2), v.height = box(3);
        origins.emplace_back(v.x, v.y);
        break;
      case a::kChild:
        if (origins.empty()) throw std::runtime_error(where + ": a child outside every parent");
        if (v.handler == 0) throw std::runtime_error(where + ": a child without a handler");
        v.x = ox + box(0), v.y = oy + box(1), v.width = box(2), v.height = box(3);
        break;
      case a::kEndOfParent:
        if (origins.empty()) throw std::runtime_error(where + ": closes a parent that is not open");
        if (v.handler != 0) throw std::runtime_error(where + ": an end record with a handler");
        origins.pop_back();
        v.depth = static_cast<int>(origins.size());
        break;
      case a::kEndOfList:
        if (!origins.empty()) throw std::runtime_error(where + ": the list ends with " + std::to_string(origins.size()) + " parent(s) still open");
        if (i == 0) throw std::runtime_error(where + ": an empty list");
        out.push_back(v);
        return out;
      default:
        throw std::runtime_error(where + ": unknown kind " + std::to_string(v.kind));
    }
    out.push_back(v);
  }
}

void Module::serviceInstallMouseAreas(uint32_t list, uint32_t, uint32_t) {
  mouseAreas_ = readMouseAreas(list);
  mouseList_ = list;
}

void Module::serviceRegisterMouseAreas(uint32_t list, uint32_t) {
  if (list != mouseList_) mouseAreas_ = readMouseAreas(list), mouseList_ = list;
  mouseRegistered_ = true;
}

void Module::serviceUnregisterMouseAreas(uint32_t, uint32_t) {
  mouseRegistered_ = false;
  dragging_.reset();
}

void Module::serviceSendKeyEvent(uint32_t id, int32_t value) { simulator_->keyEvent(deliverable_, id, value); }

const MouseAreaView* Module::areaAt(int32_t x, int32_t y) const {
  if (!mouseRegistered_) return nullptr;
  for (const MouseAreaView& a : mouseAreas_) {
    if (a.kind != layout::mouse_area::kChild) continue;
    if (x >= a.x && x < a.x + a.width && y >= a.y && y < a.y + a.height) return &a;
  }
  return nullptr;
}

bool Module::press(int32_t x, int32_t y) {
  const MouseAreaView* area = areaAt(x, y);
  if (area == nullptr) return false;
  const MouseAreaView hit = *area;
  if (hit.mouseFlags & layout::mouse_area::kDragFlags) dragging_ = hit;
  callMouseHandler(hit.handler, x, y);
  return true;
}

void Module::move(int32_t x, int32_t y) {
  if (dragging_ && mouseRegistered_) callMouseHandler(dragging_->handler, x, y);
}

void Module::release(int32_t, int32_t) { dragging_.reset(); }

bool Module::gesture(int32_t x, const std::vector<int32_t>& ys) {
  if (ys.empty()) throw std::invalid_argument("a gesture needs at least one height");
  const bool hit = press(x, ys[0]);
  for (size_t i = 1; i < ys.size(); ++i) move(x, ys[i]);
  release(x, ys.back());
  return hit;
}

}  // namespace host
