// Frame data of the panel switch: the button as StaticImage root with its blank overlay, one
// push area, one empty module routine.
#pragma once

#include "elements.h"

extern StaticImage button;
extern MouseArea panelSwitchMouseAreas[];

struct GaugeFrame {
  static constexpr StaticImage* rootImage = &button;
  static constexpr u32 headerWord11 = 40;
  static constexpr MouseArea* mouseAreas = panelSwitchMouseAreas;
  static constexpr bool twoModuleRoutines = false;
  static constexpr bool keepsModuleInstance = true;
};
