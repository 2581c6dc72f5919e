// ap_switch: the autopilot main switch. The lever picture follows host variable 0x67
// (0 off, lever down; 1 on, lever up). A click on the upper half switches the autopilot on, on
// the lower half off, each sent as KeyEvent 0x1002C only while the switch stands the other way.
#include "gauge_frame.h"
#include "host.h"

extern const char gaugeName[] = "VOLMAR.PILOT.AP.SWITCH";

namespace {

constexpr u32 kAutopilotVariable = 0x67;
constexpr u32 kAutopilotKeyEvent = 0x1002C;

s32 GAUGE_CALL SwitchUpClick(PointerPosition*, u32) {
  if (apSwitch.variable.value == 0.0) Host()->HostSendKeyEvent(kAutopilotKeyEvent, 1);
  return 0;
}

s32 GAUGE_CALL SwitchDownClick(PointerPosition*, u32) {
  if (apSwitch.variable.value == 1.0) Host()->HostSendKeyEvent(kAutopilotKeyEvent, 0);
  return 0;
}

}  // namespace

// Pictures 1000 (lever down) and 1003 (lever up).
constinit Icon apSwitch = MakeIcon({.resourceId = 1000, .position = {0, 0}, .drawFlags = 0x3,
                                    .variableId = kAutopilotVariable, .updateCallback = nullptr,
                                    .pictureCount = 2, .failures = nullptr});

constinit MouseArea apSwitchMouseAreas[] = {
    MouseParent(0, 0, 0, 0),
    MouseParent(0, 0, 32, 70, 0xA121),
    MouseChild(5, 1, 27, 24, 1, layout::mouse_area::kClickFlags, SwitchUpClick),
    MouseChild(5, 46, 27, 24, 2, layout::mouse_area::kClickFlags, SwitchDownClick),
    MouseEndParent(),
    MouseEndParent(),
    MouseEndList(),
};
