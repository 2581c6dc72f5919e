// quadrant: throttle, propeller and mixture levers for both engines. Dragging a lever turns the
// pointer's height into a lever value sent as a KeyEvent; the knob (a Slider) follows the host
// variable on the next update.
#include "fpu.h"
#include "gauge_frame.h"
#include "host.h"

extern const char gaugeName[] = "KT7-Quad";

namespace {

constexpr s32 kFullTravel = 16384;
constexpr s32 kFullReverse = -4096;
// Knob travel: a lever at full value stands 42 pixels above its rest position.
constexpr double kTravelScale = -0.0025634765625;

// The background's height, read anew on every call; 0 when the host has not given one.
s32 GaugeHeight() {
  const ImageRecord* record = background.image;
  return record != nullptr && record->height > 0 ? record->height : 0;
}

// n * 16384 on the 32-bit word, wrapping as the machine's shift does.
s32 TimesFullTravel(s32 n) { return static_cast<s32>(static_cast<u32>(n) << 14); }

// Throttle: above the idle line (80% of the height) forward thrust up to 16384, below it
// reverse down to -4096.
template <u32 KeyEvent>
s32 GAUGE_CALL ThrottleDragHandler(PointerPosition* position, u32) {
  const s32 height = GaugeHeight();
  if (height == 0) return 0;  // no background to measure against: nothing to send
  s32 value;
  {
    DoublePrecision fpu;
    const double idle = height * 0.8;
    const s32 idleLine = fpu.TruncateToInt(idle);
    // Limits applied before the conversion to an integer give the same values as after it
    // (truncation never crosses them) and keep the conversion in range.
    const double v = TimesFullTravel(idleLine - position->y) / idle;
    value = v > kFullTravel ? kFullTravel : v < kFullReverse ? kFullReverse : fpu.TruncateToInt(v);
  }
  Host()->HostSendKeyEvent(KeyEvent, value);
  return 0;
}

// Propeller and mixture: 16384 at the top edge, 0 at the bottom edge, negative below it.
template <u32 KeyEvent>
s32 GAUGE_CALL LeverDragHandler(PointerPosition* position, u32) {
  const s32 height = GaugeHeight();
  if (height == 0) return 0;
  s32 value;
  {
    DoublePrecision fpu;
    const double v = TimesFullTravel(height - position->y) / static_cast<double>(height);
    value = v > kFullTravel ? kFullTravel : fpu.TruncateToInt(v);
  }
  Host()->HostSendKeyEvent(KeyEvent, value);
  return 0;
}

constexpr u32 kThrottleBitmap = 8192, kPropellerBitmap = 12288, kMixtureBitmap = 16384;
constexpr u32 kDrag = layout::mouse_area::kDragFlags;

extern Slider levers[6];
constinit ElementHeader* backgroundChildren[] = {&levers[0].header, &levers[1].header, &levers[2].header,
                                                 &levers[3].header, &levers[4].header, &levers[5].header,
                                                 nullptr};

constinit Slider levers[6] = {
    MakeVerticalSlider(kThrottleBitmap, {54, 44}, 0x80, kTravelScale),   // throttle 1
    MakeVerticalSlider(kThrottleBitmap, {94, 44}, 0xA3, kTravelScale),   // throttle 2
    MakeVerticalSlider(kPropellerBitmap, {1, 42}, 0x81, kTravelScale),   // propeller 1
    MakeVerticalSlider(kPropellerBitmap, {26, 42}, 0xA4, kTravelScale),  // propeller 2
    MakeVerticalSlider(kMixtureBitmap, {137, 42}, 0x82, kTravelScale),   // mixture 1
    MakeVerticalSlider(kMixtureBitmap, {164, 42}, 0xA5, kTravelScale),   // mixture 2
};

}  // namespace

constinit StaticImage background = MakeStaticImage(4096, {0, 0}, 0x1, backgroundChildren);

constinit MouseArea quadrantMouseAreas[] = {
    MouseParent(0, 0, 0, 0),
    MouseParent(54, 0, 78, 68, 0xA428),  // throttles
    MouseChild(0, 0, 38, 68, 5, kDrag, ThrottleDragHandler<0x1011C>),
    MouseChild(41, 0, 38, 68, 5, kDrag, ThrottleDragHandler<0x1011D>),
    MouseEndParent(),
    MouseParent(1, 0, 48, 68, 0xA024),  // propellers
    MouseChild(0, 0, 23, 68, 5, kDrag, LeverDragHandler<0x10183>),
    MouseChild(25, 0, 23, 68, 5, kDrag, LeverDragHandler<0x10184>),
    MouseEndParent(),
    MouseParent(137, 0, 52, 68, 0xA025),  // mixtures
    MouseChild(0, 0, 25, 68, 5, kDrag, LeverDragHandler<0x1017F>),
    MouseChild(27, 0, 25, 68, 5, kDrag, LeverDragHandler<0x10180>),
    MouseEndParent(),
    MouseEndParent(),
    MouseEndList(),
};
