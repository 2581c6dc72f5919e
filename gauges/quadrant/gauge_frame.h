// Frame data of the engine control quadrant: an all-black StaticImage root that gives the gauge
// its size, six sliders, drag areas, two distinct empty module routines.
#pragma once

#include "elements.h"

extern StaticImage background;
extern MouseArea quadrantMouseAreas[];

struct GaugeFrame {
  static constexpr StaticImage* rootImage = &background;
  static constexpr u32 headerWord11 = 100;
  static constexpr MouseArea* mouseAreas = quadrantMouseAreas;
  static constexpr bool twoModuleRoutines = true;
  static constexpr bool keepsModuleInstance = true;
};
