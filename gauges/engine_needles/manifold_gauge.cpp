// manifold_gauge: twin manifold pressure gauge, engine variables 0x98 and 0xBB.
#include "engine_needles.h"

extern const char gaugeName[] = "ZAF-M8V-Manifold-Pressure2-v1s";
extern const NeedleWrap needleWrap = {10000.0, 0.0001};

namespace {

constexpr u32 kEngine1Variable = 0x98;

// Each needle owns its own rows, equal in both.
constexpr NeedleCalibration kRows[4] = {
    {50, 200, 0.0, 0.0},
    {43, 133, 1000.0, 0.0},
    {166, 262, 5000.0, 0.0},
    {128, 260, 10000.0, 0.0},
};
constinit NeedleCalibration needle1Rows[4] = {kRows[0], kRows[1], kRows[2], kRows[3]};
constinit NeedleCalibration needle2Rows[4] = {kRows[0], kRows[1], kRows[2], kRows[3]};

extern Needle needle1;
extern Needle needle2;
constinit ElementHeader* backgroundChildren[] = {&needle2.header, nullptr};
constinit ElementHeader* needle2Children[] = {&needle1.header, nullptr};

constinit Needle needle2 = MakeNeedle({kNeedle2Bitmap, kHub, {30, 10}, kEngine1Variable + kEngine2Offset,
                                       EngineNeedleValue, needle2Rows, 4, 360, needle2Children});
constinit Needle needle1 = MakeNeedle({kNeedle1Bitmap, kHub, {30, 10}, kEngine1Variable,
                                       EngineNeedleValue, needle1Rows, 4, 1080, nullptr});

}  // namespace

constinit StaticImage background = MakeStaticImage(kDialBitmap, {0, 0}, 0x1, backgroundChildren);
