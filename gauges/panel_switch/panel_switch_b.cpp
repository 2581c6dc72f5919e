// panel_switch_b: build B of the panel switch, the mirror image of build A; it sends the pair
// in the other order.
#include "frame.h"
#include "panel_switch.h"

extern const char gaugeName[] = "ZAF-M8V-Panel-Switch-v1s";
extern const u32 panelSwitchEvents[2] = {0x10176, 0x10173};
