// The panel push-button, shared by both builds. A build supplies its gauge name and the order
// of the two KeyEvents below; its .rc supplies the button picture.
#pragma once

#include "records.h"

// The two KeyEvents one click sends, in the order they go out, each with the value 0.
extern const u32 panelSwitchEvents[2];
