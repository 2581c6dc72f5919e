// Frame data of the twin-needle engine gauges: a StaticImage dial as root, no mouse areas.
#pragma once

#include "elements.h"

extern StaticImage background;

struct GaugeFrame {
  static constexpr StaticImage* rootImage = &background;
  static constexpr u32 headerWord11 = 100;
  static constexpr bool twoModuleRoutines = false;
  static constexpr bool keepsModuleInstance = true;
};
