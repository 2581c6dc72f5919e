// The twin-needle engine gauge: one dial, one needle per engine, each turned by its host
// variable through EngineNeedleValue and its calibration rows. The manifold pressure and
// tachometer modules share this code and differ only in the data below.
#pragma once

#include "elements.h"

// The wrap limit L of a module and R, the double nearest to 1/L.
struct NeedleWrap {
  double limit;
  double reciprocal;
};
extern const NeedleWrap needleWrap;

double GAUGE_CALL EngineNeedleValue(HostVariable* variable);

// Resource ids of the dial and the two needle bitmaps.
inline constexpr u32 kDialBitmap = 4096;
inline constexpr u32 kNeedle1Bitmap = 8192;
inline constexpr u32 kNeedle2Bitmap = 12288;
inline constexpr Point kHub = {145, 145};
// Engine 2's variable lies 0x23 above engine 1's.
inline constexpr u32 kEngine2Offset = 0x23;
