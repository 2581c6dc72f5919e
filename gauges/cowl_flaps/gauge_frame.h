// Frame data of the cowl flap control: the placard as StaticImage root, six push areas, one
// empty module routine, starting lever positions set by GaugeInitialize.
#pragma once

#include "elements.h"

extern StaticImage placard;
extern MouseArea cowlFlapMouseAreas[];

struct GaugeFrame {
  static constexpr StaticImage* rootImage = &placard;
  static constexpr u32 headerWord11 = 40;
  static constexpr MouseArea* mouseAreas = cowlFlapMouseAreas;
  static constexpr bool twoModuleRoutines = false;
  static constexpr bool keepsModuleInstance = true;
  static void initialize();  // both levers to CLOSE, without telling the simulator
};
