// Frame data of the autopilot switch: an Icon root bound to the autopilot variable, mouse areas,
// two distinct empty module routines, an entry routine that keeps nothing.
#pragma once

#include "elements.h"

extern Icon apSwitch;
extern MouseArea apSwitchMouseAreas[];

struct GaugeFrame {
  static constexpr Icon* rootIcon = &apSwitch;
  static constexpr u32 headerWord11 = 25;
  static constexpr MouseArea* mouseAreas = apSwitchMouseAreas;
  static constexpr bool twoModuleRoutines = true;
  static constexpr bool keepsModuleInstance = false;
};
