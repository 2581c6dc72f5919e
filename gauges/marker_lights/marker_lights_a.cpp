// marker_lights_a: build A of the marker beacon lights.
#include "frame.h"

extern const char gaugeName[] = "ZAF-M8V-OMI-Lights2-v1s";
