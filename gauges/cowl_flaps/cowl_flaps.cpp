// cowl_flaps: the cowl flap placard, a three-position lever (OPEN, TRAIL, CLOSE) per engine,
// each set by three push areas. Every press plays the click. The left lever commands the
// simulator: it sends one KeyEvent whenever it moves. The right lever only moves its picture.
#include "gauge_frame.h"
#include "host.h"
#include "sound_player.h"

extern const char gaugeName[] = "ZAF-M8V-Cowlflaps-v3s";

// The left lever's position: 0 OPEN, 1 CLOSE, 2 TRAIL. 0 in the module file; GaugeInitialize
// sets CLOSE. Written only by GaugeInitialize and the left-lever handlers.
constinit s32 cowlFlapPosition = 0;

namespace {

constexpr s32 kClickSound = 5001;

// One lever position: its code in `cowlFlapPosition`, its picture number, and the KeyEvent the
// left lever sends on reaching it (always with the value 0).
struct LeverPosition {
  s32 code;
  double picture;
  u32 keyEvent;
};
constexpr LeverPosition kOpen = {0, 0.0, 0x10210};
constexpr LeverPosition kClose = {1, 2.0, 0x10211};
constexpr LeverPosition kTrail = {2, 1.0, 0x10212};

constexpr u32 kClick = layout::mouse_area::kClickFlags;
constexpr s32 kTrailCursor = 3, kOpenCursor = 4, kCloseCursor = 5;

extern Icon leftLever;
extern Icon rightLever;
constinit ElementHeader* placardChildren[] = {&leftLever.header, &rightLever.header, nullptr};

// Pictures 3000/4000 (OPEN), 3003/4003 (TRAIL), 3006/4006 (CLOSE), placed over each fan's hub.
constinit Icon leftLever = MakeIcon({.resourceId = 3000, .position = {0, -5}, .drawFlags = 0x3,
                                     .variableId = 0, .updateCallback = nullptr, .pictureCount = 3,
                                     .failures = nullptr});
constinit Icon rightLever = MakeIcon({.resourceId = 4000, .position = {185, -5}, .drawFlags = 0x3,
                                      .variableId = 0, .updateCallback = nullptr, .pictureCount = 3,
                                      .failures = nullptr});

void MoveLeftLever(const LeverPosition& target) {
  PlayWaveResource(kClickSound);
  if (cowlFlapPosition == target.code) return;
  cowlFlapPosition = target.code;
  leftLever.variable.value = target.picture;
  Host()->HostSendKeyEvent(target.keyEvent, 0);
}

void MoveRightLever(const LeverPosition& target) {
  PlayWaveResource(kClickSound);
  rightLever.variable.value = target.picture;
}

s32 GAUGE_CALL OnLeftOpenClick(PointerPosition*, u32) {
  MoveLeftLever(kOpen);
  return 0;
}

s32 GAUGE_CALL OnLeftCloseClick(PointerPosition*, u32) {
  MoveLeftLever(kClose);
  return 0;
}

s32 GAUGE_CALL OnLeftTrailClick(PointerPosition*, u32) {
  MoveLeftLever(kTrail);
  return 0;
}

s32 GAUGE_CALL OnRightOpenClick(PointerPosition*, u32) {
  MoveRightLever(kOpen);
  return 0;
}

s32 GAUGE_CALL OnRightCloseClick(PointerPosition*, u32) {
  MoveRightLever(kClose);
  return 0;
}

s32 GAUGE_CALL OnRightTrailClick(PointerPosition*, u32) {
  MoveRightLever(kTrail);
  return 0;
}

}  // namespace

void GaugeFrame::initialize() {
  cowlFlapPosition = kClose.code;
  leftLever.variable.value = kClose.picture;
  rightLever.variable.value = kClose.picture;
}

constinit StaticImage placard = MakeStaticImage(1000, {0, 0}, 0x1, placardChildren);

// One 25 x 25 push area over each label along the placard's bottom edge.
constinit MouseArea cowlFlapMouseAreas[] = {
    MouseParent(0, 0, 0, 0),
    MouseChild(90, 90, 25, 25, kOpenCursor, kClick, OnLeftOpenClick),
    MouseChild(0, 90, 25, 25, kCloseCursor, kClick, OnLeftCloseClick),
    MouseChild(45, 90, 25, 25, kTrailCursor, kClick, OnLeftTrailClick),
    MouseChild(270, 90, 25, 25, kOpenCursor, kClick, OnRightOpenClick),
    MouseChild(180, 90, 25, 25, kCloseCursor, kClick, OnRightCloseClick),
    MouseChild(225, 90, 25, 25, kTrailCursor, kClick, OnRightTrailClick),
    MouseEndParent(),
    MouseEndList(),
};
