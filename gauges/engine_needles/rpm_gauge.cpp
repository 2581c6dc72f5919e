// rpm_gauge: twin tachometer, engine variables 0x88 and 0xAB.
#include "engine_needles.h"

extern const char gaugeName[] = "ZAF-M8V-RPM2-v1s";
extern const NeedleWrap needleWrap = {3500.0, 0.00028571428571428574};

namespace {

constexpr u32 kEngine1Variable = 0x88;

// Each needle owns its own rows, equal in both.
constexpr NeedleCalibration kRows[3] = {
    {125, 258, 0.0, 0.0},
    {40, 159, 1200.0, 0.0},
    {176, 258, 3500.0, 0.0},
};
constinit NeedleCalibration needle1Rows[3] = {kRows[0], kRows[1], kRows[2]};
constinit NeedleCalibration needle2Rows[3] = {kRows[0], kRows[1], kRows[2]};

extern Needle needle1;
extern Needle needle2;
constinit ElementHeader* backgroundChildren[] = {&needle2.header, nullptr};
constinit ElementHeader* needle2Children[] = {&needle1.header, nullptr};

constinit Needle needle2 = MakeNeedle({kNeedle2Bitmap, kHub, {45, 15}, kEngine1Variable + kEngine2Offset,
                                       EngineNeedleValue, needle2Rows, 3, 360, needle2Children});
constinit Needle needle1 = MakeNeedle({kNeedle1Bitmap, kHub, {45, 10}, kEngine1Variable,
                                       EngineNeedleValue, needle1Rows, 3, 360, nullptr});

}  // namespace

constinit StaticImage background = MakeStaticImage(kDialBitmap, {0, 0}, 0x1, backgroundChildren);
