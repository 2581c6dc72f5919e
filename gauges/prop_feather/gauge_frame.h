// Frame data of the feather button: an all-black StaticImage root that gives the gauge its
// size, the button Icon, two push areas, one empty module routine.
#pragma once

#include "elements.h"

extern StaticImage background;
extern MouseArea featherMouseAreas[];

struct GaugeFrame {
  static constexpr StaticImage* rootImage = &background;
  static constexpr u32 headerWord11 = 40;
  static constexpr MouseArea* mouseAreas = featherMouseAreas;
  static constexpr bool twoModuleRoutines = false;
  static constexpr bool keepsModuleInstance = true;
};
