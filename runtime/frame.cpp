// The module frame: exported records, GaugeHeader, lifecycle routines and entry routine.
//
// Every lifecycle routine forwards to the host with the root Element (read from `rootElement`
// on every call), the MouseAreaList and the GaugeHeader; none computes anything of its own.
#include "frame.h"

#include "gauge_frame.h"
#include "host.h"

namespace {

// The root is an Icon when the gauge names `rootIcon`, else the StaticImage `rootImage`.
template <class Frame>
constexpr bool kRootIsIcon = requires { Frame::rootIcon; };

template <class Frame>
constexpr ElementHeader* RootHeader() {
  if constexpr (kRootIsIcon<Frame>) {
    return &Frame::rootIcon->header;
  } else {
    return &Frame::rootImage->header;
  }
}

// The gauge has mouse areas when it names `mouseAreas`.
template <class Frame>
constexpr bool kHasMouseAreas = requires { Frame::mouseAreas; };

// Handed to the host in place of the root image's size when it left the image word (or the
// Icon's picture list) at 0: the frame never reads through address 0, and the host still gets a
// readable pair, (0, 0).
s32 noImageSize[2] = {0, 0};

// The root image's (width, height) pair, from the ImageRecord the host filled in during
// HostInstallElements.
template <class Frame>
s32* RootImageSizePair() {
  ImageRecord* record = nullptr;
  if constexpr (kRootIsIcon<Frame>) {
    ImageRecord** pictures = Frame::rootIcon->pictures;
    if (pictures != nullptr) record = pictures[0];
  } else {
    record = Frame::rootImage->image;
  }
  return record != nullptr ? &record->width : noImageSize;
}

// Mouse areas reach the host only in gauges that have them.
template <class Frame>
void InstallMouseAreas() {
  if constexpr (kHasMouseAreas<Frame>) {
    Host()->HostInstallMouseAreas(Frame::mouseAreas, &gaugeHeader, RootImageSizePair<Frame>());
    Host()->HostRegisterMouseAreas(Frame::mouseAreas, &gaugeHeader);
  }
}

template <class Frame>
void UnregisterMouseAreas() {
  if constexpr (kHasMouseAreas<Frame>) Host()->HostUnregisterMouseAreas(Frame::mouseAreas, &gaugeHeader);
}

// The gauge's own starting work, in gauges that name `initialize`.
template <class Frame>
void InitializeGauge() {
  if constexpr (requires { Frame::initialize(); }) Frame::initialize();
}

s32 GAUGE_CALL GaugeQuery() { return Host()->HostQueryElements(rootElement); }

void GAUGE_CALL GaugeInstall(void* moduleHandle) {
  Host()->HostInstallElements(rootElement, moduleHandle);
  InstallMouseAreas<GaugeFrame>();
}

void GAUGE_CALL GaugeInitialize() {
  InitializeGauge<GaugeFrame>();
  Host()->HostInitElements(rootElement);
}

void GAUGE_CALL GaugeUpdate() { Host()->HostUpdateElements(rootElement); }

void GAUGE_CALL GaugeGenerate(u32 word) { Host()->HostGenerateElements(rootElement, word); }

void GAUGE_CALL GaugeDraw() { Host()->HostDrawElements(rootElement); }

void GAUGE_CALL GaugeKill() {
  UnregisterMouseAreas<GaugeFrame>();
  Host()->HostKillElements(rootElement);
}

void GAUGE_CALL ModuleInit() {}
void GAUGE_CALL ModuleDeinit() {}

}  // namespace

void* moduleInstance = nullptr;
constinit ElementHeader* rootElement = RootHeader<GaugeFrame>();

constinit GaugeHeader gaugeHeader = {
    .version = layout::gauge_header::kVersion,
    .name = gaugeName,
    .rootElement = &rootElement,
    .GaugeQuery = GaugeQuery,
    .GaugeInstall = GaugeInstall,
    .GaugeInitialize = GaugeInitialize,
    .GaugeUpdate = GaugeUpdate,
    .GaugeGenerate = GaugeGenerate,
    .GaugeDraw = GaugeDraw,
    .GaugeKill = GaugeKill,
    .reserved10 = 0,
    .word11 = GaugeFrame::headerWord11,
    .reserved12 = {},
};

extern "C" {

constinit ModuleLinkage Linkage = {
    .moduleId = layout::linkage::kModuleId,
    .ModuleInit = ModuleInit,
    .ModuleDeinit = GaugeFrame::twoModuleRoutines ? ModuleDeinit : ModuleInit,
    .reserved3 = {},
    .gaugeList = {&gaugeHeader, nullptr},
};

constinit ImportEntry ImportTable[2] = {
    {layout::import_table::kServiceTableEntryId, nullptr},
    {0, nullptr},
};

// The PE entry point, called by Windows on process and thread attach and detach.
s32 GAUGE_CALL ModuleEntry(void* instance, u32 /*reason*/, void* /*reserved*/) {
  if constexpr (GaugeFrame::keepsModuleInstance) moduleInstance = instance;
  return 1;
}

}  // extern "C"
