// The outer / middle / inner marker beacon lights, shared by both builds (which differ only in
// the gauge name). The lamp Icon follows host variable 0x162 through MarkerLampPicture; the
// HI/LO lever lives only in the gauge: a click on its left half sets HI, on its right half LO,
// and every click plays the click. Nothing is sent to the simulator.
#include "gauge_frame.h"
#include "sound_player.h"

double GAUGE_CALL MarkerLampPicture(HostVariable* variable);

// The lever as the handlers see it: 0 HI, 2 LO. Moves together with the lever Icon's value
// (0.0 HI, 1.0 LO); HI at load, and no lifecycle routine changes it.
constinit s32 hiLoPosition = 0;

namespace {

constexpr u32 kMarkerBeaconVariable = 0x162;
constexpr s32 kClickSound = 6001;
constexpr s32 kHi = 0, kLo = 2;
constexpr u32 kClick = layout::mouse_area::kClickFlags;
constexpr u32 kMarkerHelp = 0xA41C;

// Failure key 1 takes action 3 on the lamps.
constinit FailureEntry lampFailures[] = {{1, 3}, {0, 0}};

extern Icon lamps;
extern Icon lever;
constinit ElementHeader* faceChildren[] = {&lamps.header, &lever.header, nullptr};

// Pictures 8192 (all dark), 8195 (O lit), 8198 (A lit), 8201 (I lit).
constinit Icon lamps = MakeIcon({.resourceId = 8192, .position = {0, 28}, .drawFlags = 0x7,
                                 .variableId = kMarkerBeaconVariable,
                                 .updateCallback = MarkerLampPicture, .pictureCount = 4,
                                 .failures = lampFailures});
// Pictures 12288 (pointing to HI) and 12291 (pointing to LO); the value belongs to the gauge.
constinit Icon lever = MakeIcon({.resourceId = 12288, .position = {71, 138}, .drawFlags = 0x3,
                                 .variableId = 0, .updateCallback = nullptr, .pictureCount = 2,
                                 .failures = nullptr});

s32 GAUGE_CALL OnHiClick(PointerPosition*, u32) {
  PlayWaveResource(kClickSound);
  if (hiLoPosition != kHi) {
    hiLoPosition = kHi;
    lever.variable.value = 0.0;
  }
  return 0;
}

s32 GAUGE_CALL OnLoClick(PointerPosition*, u32) {
  PlayWaveResource(kClickSound);
  if (hiLoPosition != kLo) {
    hiLoPosition = kLo;
    lever.variable.value = 1.0;
  }
  return 0;
}

}  // namespace

// The lamp picture for the marker value: exactly 1.0, 2.0 or 3.0 light O, A or I; any other
// value (negative zero, NaN, fractions, 4.0 and above included) leaves every lamp dark. The test
// is on the value's two 32-bit words, so it needs no x87 arithmetic and cannot depend on the
// precision or rounding the host left in the control word.
double GAUGE_CALL MarkerLampPicture(HostVariable* variable) {
  u32 words[2];  // low word, high word
  __builtin_memcpy(words, &variable->value, sizeof words);
  if (words[0] == 0) {
    switch (words[1]) {
      case 0x3FF00000: return 1.0;
      case 0x40000000: return 2.0;
      case 0x40080000: return 3.0;
      default: break;
    }
  }
  return 0.0;
}

constinit StaticImage face = MakeStaticImage(4096, {0, 0}, 0x1, faceChildren);

// HI over the lever's left half and the word HI (x 65 to 104), LO over its right half and the
// word LO (x 115 to 154); the columns over the pivot between them answer no click.
constinit MouseArea markerMouseAreas[] = {
    MouseParent(0, 0, 0, 0, kMarkerHelp),
    MouseChild(115, 150, 40, 40, 4, kClick, OnLoClick),
    MouseChild(65, 150, 40, 40, 3, kClick, OnHiClick),
    MouseEndParent(),
    MouseEndList(),
};
