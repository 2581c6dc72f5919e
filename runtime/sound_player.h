// The click sound player: plays a WAVE resource of this module once through DirectSound.
//
// Mouse handlers call PlayWaveResource first, on every press, and ignore its result; the result
// and the module-wide SoundStatus are for diagnosis only (0 started; -1 .. -5 the player's own
// failures; DirectSound results passed through).
#pragma once

#include "records.h"

s32 GAUGE_CALL PlayWaveResource(s32 resourceId);
