// The panel push-button: a click plays the click and sends the simulator the build's pair of
// KeyEvents, always both, always in the build's order. The gauge keeps no state and never
// changes its picture.
#include "panel_switch.h"

#include "gauge_frame.h"
#include "host.h"
#include "sound_player.h"

namespace {

constexpr s32 kClickSound = 3001;

s32 GAUGE_CALL OnPanelSwitchClick(PointerPosition*, u32) {
  PlayWaveResource(kClickSound);
  Host()->HostSendKeyEvent(panelSwitchEvents[0], 0);
  Host()->HostSendKeyEvent(panelSwitchEvents[1], 0);
  return 0;
}

extern StaticImage overlay;
constinit ElementHeader* buttonChildren[] = {&overlay.header, nullptr};

// All black, 18 x 20: ends flush with the button's right edge and reaches below its bottom.
constinit StaticImage overlay = MakeStaticImage(1003, {14, 14}, 0x40000007);

}  // namespace

constinit StaticImage button = MakeStaticImage(1000, {0, 0}, 0x1, buttonChildren);

// The push area starts 10 pixels left of the 32 x 28 button and leaves out its two rightmost
// columns and bottom eight rows.
constinit MouseArea panelSwitchMouseAreas[] = {
    MouseParent(0, 0, 0, 0),
    MouseChild(-10, 0, 40, 20, 5, layout::mouse_area::kClickFlags, OnPanelSwitchClick),
    MouseEndParent(),
    MouseEndList(),
};
