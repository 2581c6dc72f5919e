// Frame data of the marker beacon lights: the face as StaticImage root, the lamp and lever
// Icons, the HI and LO push areas, one empty module routine.
#pragma once

#include "elements.h"

extern StaticImage face;
extern MouseArea markerMouseAreas[];

struct GaugeFrame {
  static constexpr StaticImage* rootImage = &face;
  static constexpr u32 headerWord11 = 40;
  static constexpr MouseArea* mouseAreas = markerMouseAreas;
  static constexpr bool twoModuleRoutines = false;
  static constexpr bool keepsModuleInstance = true;
};
