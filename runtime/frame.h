// The module frame: what every gauge module carries so the host can find, bind and drive it.
//
// The frame (frame.cpp) is one body of code for every module. What differs per gauge is data
// that the gauge folder supplies in its `gauge_frame.h`, a `struct GaugeFrame` with:
//
//   static constexpr StaticImage* rootImage = &...;   the root Element, when it is a StaticImage
//   static constexpr Icon* rootIcon = &...;           or, when the root is an Icon
//   static constexpr u32 headerWord11 = ...;          header word 11, read only by the host
//   static constexpr MouseArea* mouseAreas = ...;     the MouseAreaList, when the gauge has one
//   static constexpr bool twoModuleRoutines = ...;    distinct ModuleInit and ModuleDeinit
//   static constexpr bool keepsModuleInstance = ...;  the entry routine stores the instance handle
//   static void initialize();                         the gauge's own starting work, if any
//
// and, per build, the gauge name `gaugeName` (a zero-terminated string in module data).
#pragma once

#include "records.h"

extern const char gaugeName[];

extern "C" ModuleLinkage Linkage;
extern GaugeHeader gaugeHeader;
extern ElementHeader* rootElement;
extern void* moduleInstance;
