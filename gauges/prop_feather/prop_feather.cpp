// The propeller feather push-button: a click on the upper half pulls the button out, on the
// lower half pushes it in. Each change of position sends the build's KeyEvent for it; every
// click plays the click. The picture shows the last position set since the module was loaded.
#include "prop_feather.h"

#include "gauge_frame.h"
#include "host.h"
#include "sound_player.h"

// The button as the handlers see it: 0 out, 2 in. Moves together with the button Icon's value
// (0.0 out, 1.0 in); out at load, and no lifecycle routine changes it.
constinit s32 featherButtonPosition = 0;

namespace {

constexpr s32 kClickSound = 6001;
constexpr s32 kOut = 0, kIn = 2;
constexpr u32 kClick = layout::mouse_area::kClickFlags;

extern Icon button;
constinit ElementHeader* backgroundChildren[] = {&button.header, nullptr};

// Pictures 8192 (out) and 8195 (in); the value belongs to the gauge.
constinit Icon button = MakeIcon({.resourceId = 8192, .position = {0, 0}, .drawFlags = 0x3,
                                  .variableId = 0, .updateCallback = nullptr, .pictureCount = 2,
                                  .failures = nullptr});

s32 GAUGE_CALL OnButtonOutClick(PointerPosition*, u32) {
  PlayWaveResource(kClickSound);
  if (featherButtonPosition == kOut) return 0;
  featherButtonPosition = kOut;
  button.variable.value = 0.0;
  Host()->HostSendKeyEvent(featherEvents.out, 0);
  return 0;
}

s32 GAUGE_CALL OnButtonInClick(PointerPosition*, u32) {
  PlayWaveResource(kClickSound);
  if (featherButtonPosition == kIn) return 0;
  featherButtonPosition = kIn;
  button.variable.value = 1.0;
  Host()->HostSendKeyEvent(featherEvents.in, 0);
  return 0;
}

}  // namespace

constinit StaticImage background = MakeStaticImage(4096, {0, 0}, 0x1, backgroundChildren);

// Upper half (y 0 to 24) out, lower half (y 25 to 49) in; the right three columns and the
// bottom nine rows of the 53 x 59 gauge answer no click.
constinit MouseArea featherMouseAreas[] = {
    MouseParent(0, 0, 0, 0),
    MouseChild(0, 0, 50, 25, 3, kClick, OnButtonOutClick),
    MouseChild(0, 25, 50, 25, 4, kClick, OnButtonInClick),
    MouseEndParent(),
    MouseEndList(),
};
