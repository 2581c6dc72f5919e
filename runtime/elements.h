// Constant builders for element, calibration and mouse-area records.
//
// A gauge folder describes its tree with these so that each record reads like its table: every
// field not named is 0, as the host expects. They run at compile time only (`constinit` data).
#pragma once

#include "records.h"

extern GaugeHeader gaugeHeader;  // the frame's one GaugeHeader, owner of every Element

struct Point {
  s32 x;
  s32 y;
};

constexpr ElementHeader MakeElementHeader(u32 kind, u32 resourceId, Point position, Point pivot,
                                          ElementHeader* const* children, u32 drawFlags,
                                          const FailureEntry* failures = nullptr) {
  ElementHeader h{};
  h.kind = kind;
  h.resourceId = resourceId;
  h.position[0] = position.x;
  h.position[1] = position.y;
  h.pivot[0] = pivot.x;
  h.pivot[1] = pivot.y;
  h.gaugeHeader = &gaugeHeader;
  h.children = children;
  h.failures = failures;
  h.drawFlags = drawFlags;
  return h;
}

constexpr StaticImage MakeStaticImage(u32 resourceId, Point position, u32 drawFlags,
                                      ElementHeader* const* children = nullptr) {
  StaticImage e{};
  e.header = MakeElementHeader(layout::element::kStaticImage, resourceId, position, {0, 0},
                               children, drawFlags);
  return e;
}

struct NeedleSpec {
  u32 resourceId;
  Point position;
  Point pivot;
  u32 variableId;
  UpdateCallback updateCallback;
  const NeedleCalibration* calibration;
  u32 calibrationRows;
  u32 word30;
  ElementHeader* const* children;
};

constexpr Needle MakeNeedle(const NeedleSpec& s) {
  Needle e{};
  e.header = MakeElementHeader(layout::element::kNeedle, s.resourceId, s.position, s.pivot,
                               s.children, 0x3);
  e.variable.id = s.variableId;
  e.updateCallback = s.updateCallback;
  e.calibration = s.calibration;
  e.calibrationRows = s.calibrationRows;
  e.word30 = s.word30;
  return e;
}

struct IconSpec {
  u32 resourceId;
  Point position;
  u32 drawFlags;
  u32 variableId;  // 0: the gauge owns `value`
  UpdateCallback updateCallback;
  u32 pictureCount;
  const FailureEntry* failures;
};

constexpr Icon MakeIcon(const IconSpec& s) {
  Icon e{};
  e.header = MakeElementHeader(layout::element::kIcon, s.resourceId, s.position, {0, 0}, nullptr,
                               s.drawFlags, s.failures);
  e.variable.id = s.variableId;
  e.updateCallback = s.updateCallback;
  e.pictureCount = s.pictureCount;
  return e;
}

// A slider that moves only vertically, following one host variable.
constexpr Slider MakeVerticalSlider(u32 resourceId, Point position, u32 variableId, double scale) {
  Slider e{};
  e.header = MakeElementHeader(layout::element::kSlider, resourceId, position, {0, 0}, nullptr, 0x3);
  e.yAxis.variable.id = variableId;
  e.yAxis.scale = scale;
  return e;
}

constexpr MouseArea MouseParent(s32 x, s32 y, s32 w, s32 h, u32 helpId = 0) {
  MouseArea a{};
  a.kind = layout::mouse_area::kParent;
  a.box[0] = x;
  a.box[1] = y;
  a.box[2] = w;
  a.box[3] = h;
  a.cursor = -1;
  a.helpId = helpId;
  return a;
}

constexpr MouseArea MouseChild(s32 x, s32 y, s32 w, s32 h, s32 cursor, u32 mouseFlags,
                               MouseHandler handler) {
  MouseArea a{};
  a.kind = layout::mouse_area::kChild;
  a.box[0] = x;
  a.box[1] = y;
  a.box[2] = w;
  a.box[3] = h;
  a.cursor = cursor;
  a.mouseFlags = mouseFlags;
  a.handler = handler;
  return a;
}

constexpr MouseArea MouseEndParent() {
  MouseArea a{};
  a.kind = layout::mouse_area::kEndOfParent;
  a.cursor = -1;
  return a;
}

constexpr MouseArea MouseEndList() {
  MouseArea a{};
  a.kind = layout::mouse_area::kEndOfList;
  a.cursor = -1;
  return a;
}
