// The records a gauge module shares with its host, as the module declares them.
//
// Every record is static module data, constant-initialised, laid out word for word as the host
// reads it; addresses inside records are fixed up by the Windows loader through base
// relocations. The offsets are checked against layout.h at compile time.
#pragma once

#include "layout.h"

#define GAUGE_CALL __stdcall

using u16 = unsigned short;
using u32 = unsigned int;
using s32 = int;

static_assert(sizeof(void*) == 4, "gauge modules are 32-bit");

#pragma pack(push, 4)

struct GaugeHeader;
struct ElementHeader;
struct MouseArea;

// Words 1 and 2 of the host's record of a loaded bitmap: its width and height in pixels.
struct ImageRecord {
  u32 hostWord0;
  s32 width;
  s32 height;
};

// The host's table of panel services; only the slots gauges call are named.
struct PointerPosition {
  s32 x;
  s32 y;
};
using MouseHandler = s32(GAUGE_CALL*)(PointerPosition* position, u32 hostWord);

struct HostServiceTable {
  void* unusedSlots0[24];
  s32(GAUGE_CALL* HostQueryElements)(ElementHeader* root);
  void(GAUGE_CALL* HostInstallElements)(ElementHeader* root, void* moduleHandle);
  void(GAUGE_CALL* HostInitElements)(ElementHeader* root);
  void(GAUGE_CALL* HostUpdateElements)(ElementHeader* root);
  void(GAUGE_CALL* HostGenerateElements)(ElementHeader* root, u32 word);
  void(GAUGE_CALL* HostDrawElements)(ElementHeader* root);
  void* unusedSlot30;
  void(GAUGE_CALL* HostKillElements)(ElementHeader* root);
  void(GAUGE_CALL* HostInstallMouseAreas)(MouseArea* areas, GaugeHeader* header, s32* sizePair);
  void(GAUGE_CALL* HostRegisterMouseAreas)(MouseArea* areas, GaugeHeader* header);
  void(GAUGE_CALL* HostUnregisterMouseAreas)(MouseArea* areas, GaugeHeader* header);
  void* unusedSlot35;
  void(GAUGE_CALL* HostSendKeyEvent)(u32 keyEvent, s32 value);
};

struct ModuleLinkage {
  u32 moduleId;
  void(GAUGE_CALL* ModuleInit)();
  void(GAUGE_CALL* ModuleDeinit)();
  u32 reserved3[3];
  GaugeHeader* gaugeList[2];  // one gauge, then the closing 0
};

struct ImportEntry {
  u32 entryId;
  HostServiceTable* address;
};

struct GaugeHeader {
  u32 version;
  const char* name;
  ElementHeader** rootElement;
  s32(GAUGE_CALL* GaugeQuery)();
  void(GAUGE_CALL* GaugeInstall)(void* moduleHandle);
  void(GAUGE_CALL* GaugeInitialize)();
  void(GAUGE_CALL* GaugeUpdate)();
  void(GAUGE_CALL* GaugeGenerate)(u32 word);
  void(GAUGE_CALL* GaugeDraw)();
  void(GAUGE_CALL* GaugeKill)();
  u32 reserved10;
  u32 word11;  // per-gauge value for the host only
  u32 reserved12[10];
};

// Failure key and action pairs, closed by (0, 0).
struct FailureEntry {
  u32 key;
  u32 action;
};

struct ElementHeader {
  u32 kind;
  u32 resourceId;
  s32 position[2];
  u32 reserved4[2];
  s32 pivot[2];
  GaugeHeader* gaugeHeader;
  u32 reserved9;
  ElementHeader* const* children;  // child list closed by 0, or 0
  const FailureEntry* failures;
  u32 drawFlags;
  u32 reserved13[2];
};

struct HostVariable {
  u32 id;  // 0: `value` belongs to the gauge
  u32 reserved1[2];
  double value;
  u32 reserved5[2];
};

using UpdateCallback = double(GAUGE_CALL*)(HostVariable* variable);

struct StaticImage {
  ElementHeader header;
  ImageRecord* image;  // host-filled
  u32 reserved16[4];
};

struct NeedleCalibration {
  s32 x;
  s32 y;
  double value;
  double secondValue;
};

struct Needle {
  ElementHeader header;
  HostVariable variable;
  UpdateCallback updateCallback;
  u32 reserved23[5];
  const NeedleCalibration* calibration;
  u32 calibrationRows;
  u32 word30;  // read only by the host
  u32 reserved31[25];
};

struct Icon {
  ElementHeader header;
  HostVariable variable;
  UpdateCallback updateCallback;
  u32 reserved23[5];
  u32 pictureCount;
  u32 reserved29[2];
  ImageRecord** pictures;  // host-filled table; word 0 is picture 0's ImageRecord
  u32 reserved32;
};

struct SliderAxis {
  HostVariable variable;
  UpdateCallback updateCallback;
  double scale;
  u32 reserved10;
};

struct Slider {
  ElementHeader header;
  SliderAxis xAxis;
  SliderAxis yAxis;
  u32 reserved37[5];
};

struct MouseArea {
  u32 kind;
  s32 box[4];  // x, y, width, height relative to the enclosing parent's box
  s32 cursor;
  u32 helpId;
  u32 mouseFlags;
  u32 reserved8;
  MouseHandler handler;
  u32 reserved10;
};

#pragma pack(pop)

// Compile-time proof that every record matches the host's word layout.
#define GAUGE_WORD(type, field, word) static_assert(__builtin_offsetof(type, field) == 4 * (word), #type "." #field)
#define GAUGE_WORDS(type, count) static_assert(sizeof(type) == 4 * (count), #type " size")

GAUGE_WORDS(ModuleLinkage, layout::linkage::words);
GAUGE_WORD(ModuleLinkage, ModuleInit, layout::linkage::moduleInit);
GAUGE_WORD(ModuleLinkage, ModuleDeinit, layout::linkage::moduleDeinit);
GAUGE_WORD(ModuleLinkage, gaugeList, layout::linkage::gaugeList);
GAUGE_WORDS(ImportEntry[2], layout::import_table::words);
GAUGE_WORD(ImportEntry, address, layout::import_table::serviceTable);

GAUGE_WORDS(GaugeHeader, layout::gauge_header::words);
GAUGE_WORD(GaugeHeader, name, layout::gauge_header::name);
GAUGE_WORD(GaugeHeader, rootElement, layout::gauge_header::rootElement);
GAUGE_WORD(GaugeHeader, GaugeQuery, layout::gauge_header::query);
GAUGE_WORD(GaugeHeader, GaugeInstall, layout::gauge_header::install);
GAUGE_WORD(GaugeHeader, GaugeInitialize, layout::gauge_header::initialize);
GAUGE_WORD(GaugeHeader, GaugeUpdate, layout::gauge_header::update);
GAUGE_WORD(GaugeHeader, GaugeGenerate, layout::gauge_header::generate);
GAUGE_WORD(GaugeHeader, GaugeDraw, layout::gauge_header::draw);
GAUGE_WORD(GaugeHeader, GaugeKill, layout::gauge_header::kill);
GAUGE_WORD(GaugeHeader, word11, layout::gauge_header::word11);

GAUGE_WORDS(HostServiceTable, layout::service::slots);
GAUGE_WORD(HostServiceTable, HostQueryElements, layout::service::queryElements);
GAUGE_WORD(HostServiceTable, HostInstallElements, layout::service::installElements);
GAUGE_WORD(HostServiceTable, HostInitElements, layout::service::initElements);
GAUGE_WORD(HostServiceTable, HostUpdateElements, layout::service::updateElements);
GAUGE_WORD(HostServiceTable, HostGenerateElements, layout::service::generateElements);
GAUGE_WORD(HostServiceTable, HostDrawElements, layout::service::drawElements);
GAUGE_WORD(HostServiceTable, HostKillElements, layout::service::killElements);
GAUGE_WORD(HostServiceTable, HostInstallMouseAreas, layout::service::installMouseAreas);
GAUGE_WORD(HostServiceTable, HostRegisterMouseAreas, layout::service::registerMouseAreas);
GAUGE_WORD(HostServiceTable, HostUnregisterMouseAreas, layout::service::unregisterMouseAreas);
GAUGE_WORD(HostServiceTable, HostSendKeyEvent, layout::service::sendKeyEvent);

GAUGE_WORDS(ElementHeader, layout::element::headerWords);
GAUGE_WORD(ElementHeader, resourceId, layout::element::resourceId);
GAUGE_WORD(ElementHeader, position, layout::element::position);
GAUGE_WORD(ElementHeader, pivot, layout::element::pivot);
GAUGE_WORD(ElementHeader, gaugeHeader, layout::element::gaugeHeader);
GAUGE_WORD(ElementHeader, children, layout::element::children);
GAUGE_WORD(ElementHeader, failures, layout::element::failures);
GAUGE_WORD(ElementHeader, drawFlags, layout::element::drawFlags);

GAUGE_WORDS(HostVariable, layout::host_variable::words);
GAUGE_WORD(HostVariable, value, layout::host_variable::value);

GAUGE_WORDS(StaticImage, layout::static_image::words);
GAUGE_WORD(StaticImage, image, layout::static_image::image);

GAUGE_WORDS(Needle, layout::needle::words);
GAUGE_WORD(Needle, variable, layout::needle::variable);
GAUGE_WORD(Needle, updateCallback, layout::needle::updateCallback);
GAUGE_WORD(Needle, calibration, layout::needle::calibration);
GAUGE_WORD(Needle, calibrationRows, layout::needle::calibrationRows);
GAUGE_WORD(Needle, word30, layout::needle::word30);
GAUGE_WORDS(NeedleCalibration, layout::calibration_row::words);
GAUGE_WORD(NeedleCalibration, value, layout::calibration_row::value);
GAUGE_WORD(NeedleCalibration, secondValue, layout::calibration_row::secondValue);

GAUGE_WORDS(Icon, layout::icon::words);
GAUGE_WORD(Icon, variable, layout::icon::variable);
GAUGE_WORD(Icon, updateCallback, layout::icon::updateCallback);
GAUGE_WORD(Icon, pictureCount, layout::icon::pictureCount);
GAUGE_WORD(Icon, pictures, layout::icon::pictures);

GAUGE_WORDS(SliderAxis, layout::slider_axis::words);
GAUGE_WORD(SliderAxis, updateCallback, layout::slider_axis::updateCallback);
GAUGE_WORD(SliderAxis, scale, layout::slider_axis::scale);
GAUGE_WORDS(Slider, layout::slider::words);
GAUGE_WORD(Slider, xAxis, layout::slider::xAxis);
GAUGE_WORD(Slider, yAxis, layout::slider::yAxis);

GAUGE_WORDS(MouseArea, layout::mouse_area::words);
GAUGE_WORD(MouseArea, box, layout::mouse_area::box);
GAUGE_WORD(MouseArea, cursor, layout::mouse_area::cursor);
GAUGE_WORD(MouseArea, helpId, layout::mouse_area::helpId);
GAUGE_WORD(MouseArea, mouseFlags, layout::mouse_area::mouseFlags);
GAUGE_WORD(MouseArea, handler, layout::mouse_area::handler);

#undef GAUGE_WORD
#undef GAUGE_WORDS
