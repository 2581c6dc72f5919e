// panel_switch_a: build A of the panel switch.
#include "frame.h"
#include "panel_switch.h"

extern const char gaugeName[] = "ZAF-M8V-Panel-Switch2-v1s";
extern const u32 panelSwitchEvents[2] = {0x10173, 0x10176};
