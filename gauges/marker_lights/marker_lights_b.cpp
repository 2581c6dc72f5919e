// marker_lights_b: build B of the marker beacon lights.
#include "frame.h"

extern const char gaugeName[] = "ZAF-M8V-OMI-Lights-v1s";
