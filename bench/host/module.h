// A gauge module loaded into its own guest machine, and the host services it is driven with.
//
// Loading parses the PE file, maps it, applies base relocations, binds imports to the bench's
// Win32 stubs, calls the entry routine for process attach, reads `Linkage` and the GaugeHeader,
// and writes the address of the bench's HostServiceTable into word 1 of `ImportTable`. The
// lifecycle calls then run the module's own routines, which call back into the host services
// implemented here: element install/update/draw/kill, mouse areas, KeyEvents.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/image.h"
#include "machine.h"
#include "pe/pe.h"
#include "simulator.h"

namespace win32 {
struct State;
}

namespace host {

// A file the bench cannot load as a gauge module; the message is one line.
struct LoadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "StaticImage", "Needle", "Slider", "Icon", or "unknown".
const char* ElementKindName(uint32_t kind);

// One call the module made into the host, for traces and tests.
struct ServiceCall {
  std::string name;
  std::vector<uint32_t> args;
};

// A host-side view of one Element of the installed tree.
struct ElementView {
  uint32_t address = 0;
  uint32_t kind = 0;
  int depth = 0;
  uint32_t resourceId = 0;
  int32_t x = 0, y = 0, pivotX = 0, pivotY = 0;
  uint32_t drawFlags = 0;
  uint32_t children = 0, failures = 0, gaugeHeader = 0;
};

// A mouse area as the host registered it: its box in gauge pixels.
struct MouseAreaView {
  uint32_t address = 0;
  uint32_t kind = 0;
  int depth = 0;
  int32_t x = 0, y = 0, width = 0, height = 0;  // absolute, gauge pixels
  int32_t cursor = -1;
  uint32_t helpId = 0, mouseFlags = 0, handler = 0;
};

struct ModuleOptions {
  std::optional<uint32_t> loadBase;  // default: the image's preferred base
  uint64_t budget = guest::Machine::kDefaultBudget;
  std::shared_ptr<Simulator> simulator;  // shared by the gauges of one panel; made if null
};

class Module {
 public:
  static std::unique_ptr<Module> Load(const std::string& path, ModuleOptions options = {});
  ~Module();

  // Facts.
  const std::string& path() const { return path_; }
  const std::string& deliverable() const { return deliverable_; }  // file name without .gau
  const pe::Image& image() const { return image_; }
  guest::Machine& machine() { return *machine_; }
  Simulator& simulator() { return *simulator_; }
  std::shared_ptr<Simulator> sharedSimulator() const { return simulator_; }
  uint32_t base() const { return base_; }
  uint32_t linkage() const { return linkage_; }
  uint32_t gaugeHeader() const { return header_; }
  uint32_t importTable() const { return importTable_; }
  uint32_t serviceTable() const { return serviceTable_; }
  std::string gaugeName() const;
  uint32_t headerWord(unsigned word) const;
  uint32_t rootElement() const;  // the value of the module variable `rootElement`
  // A readable name for a guest routine: its COFF symbol (demangled) when the file has one.
  std::string routineName(uint32_t address) const;
  std::optional<uint32_t> symbolAddress(std::string_view name) const;

  // Lifecycle, as the host drives it. Each runs the module's routine under the budget and
  // throws guest::Fault (or std::runtime_error from a host service) on failure.
  int32_t query();
  void install();
  void initialize();
  void update();
  void generate(uint32_t word);
  void draw();
  void kill();
  bool installed() const { return installed_; }
  // Install, initialise, update and draw: what the host does before a gauge first shows.
  void start();

  // The last frame HostDrawElements composed (the root image's size, see-through black).
  const render::Image& frame() const { return frame_; }
  // The value an Element shows: its callback's result or its `value`, as of the last update
  // (for a Slider, axis 0 is x and axis 1 is y).
  double shownValue(uint32_t element, int axis = 0) const;

  // Calls an update callback or a mouse handler directly, as the host would.
  double callUpdateCallback(uint32_t callback, uint32_t variableAddress);
  uint32_t callMouseHandler(uint32_t handler, int32_t x, int32_t y, uint32_t word = 0);

  // Mouse areas, between HostRegisterMouseAreas and HostUnregisterMouseAreas.
  bool mouseAreasRegistered() const { return mouseRegistered_; }
  const std::vector<MouseAreaView>& mouseAreas() const { return mouseAreas_; }
  // Pointer gestures in gauge pixels. A press calls the handler of the area under it; a drag
  // area also gets every move while the button is held, wherever the pointer is. Returns false
  // when the press hit no area.
  bool press(int32_t x, int32_t y);
  void move(int32_t x, int32_t y);
  void release(int32_t x, int32_t y);
  // A press at (x, ys[0]), moves through the other heights, a release at the last: a click when
  // there is one height. Returns false when the press hit no area.
  bool gesture(int32_t x, const std::vector<int32_t>& ys);
  const MouseAreaView* areaAt(int32_t x, int32_t y) const;

  // The element tree, read from guest memory (pre-order, depth-first).
  std::vector<ElementView> elements() const;

  // Instruments.
  std::vector<ServiceCall>& serviceCalls() { return calls_; }
  uint64_t lastInstructions() const { return lastInstructions_; }
  std::map<std::string, uint64_t>& apiCalls() { return apiCalls_; }

  // Resources of the module file.
  std::optional<std::span<const uint8_t>> resource(const pe::ResName& type, const pe::ResName& name) const;
  render::Image bitmap(uint32_t resourceId) const;  // throws naming the id if absent

  // For the Win32 stubs: per-module state they keep (resource handles, DirectSound objects).
  win32::State& win32() { return *win32_; }

 private:
  Module() = default;
  struct Loaded {  // host-side state of one installed Element
    uint32_t kind = 0;
    std::vector<render::Image> pictures;    // one for most kinds; pictureCount for Icons
    std::vector<uint32_t> imageRecords;     // guest ImageRecords, parallel to pictures
    uint32_t pictureTable = 0;              // Icons: guest table of ImageRecord addresses
    double shown[2] = {0.0, 0.0};           // shown values (Slider: x and y axis)
  };

  void map();
  void bindImports();
  void buildServiceTable();
  uint32_t run(const std::string& routine, uint32_t address, std::vector<uint32_t> args);
  std::vector<ElementView> tree(uint32_t root) const;  // pre-order, checked for cycles and depth
  void walk(uint32_t element, int depth, std::vector<ElementView>& out, std::vector<uint32_t>& seen) const;
  ElementView readElement(uint32_t address, int depth) const;

  // Host services.
  uint32_t serviceQuery(uint32_t root);
  void serviceInstall(uint32_t root, uint32_t moduleHandle);
  void serviceInit(uint32_t root);
  void serviceUpdate(uint32_t root);
  void serviceGenerate(uint32_t root, uint32_t word);
  void serviceDraw(uint32_t root);
  void serviceKill(uint32_t root);
  void serviceInstallMouseAreas(uint32_t list, uint32_t header, uint32_t sizePair);
  void serviceRegisterMouseAreas(uint32_t list, uint32_t header);
  void serviceUnregisterMouseAreas(uint32_t list, uint32_t header);
  void serviceSendKeyEvent(uint32_t id, int32_t value);
  std::vector<MouseAreaView> readMouseAreas(uint32_t list) const;
  void updateVariable(uint32_t variableAddress);
  double shownFor(uint32_t variableAddress, uint32_t callback);

  std::string path_, deliverable_;
  pe::Image image_;
  std::unique_ptr<guest::Machine> machine_;
  std::shared_ptr<Simulator> simulator_;
  uint32_t base_ = 0, linkage_ = 0, importTable_ = 0, header_ = 0, serviceTable_ = 0;
  bool installed_ = false;
  std::map<uint32_t, Loaded> loaded_;
  render::Image frame_;
  std::vector<ServiceCall> calls_;
  uint64_t lastInstructions_ = 0;
  std::map<std::string, uint64_t> apiCalls_;
  uint32_t mouseList_ = 0;
  bool mouseRegistered_ = false;
  std::vector<MouseAreaView> mouseAreas_;
  std::optional<MouseAreaView> dragging_;
  std::unique_ptr<win32::State> win32_;
};

}  // namespace host
