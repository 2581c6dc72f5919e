// prop_feather_b: build B of the feather button, the mirror image of build A.
#include "frame.h"
#include "prop_feather.h"

extern const char gaugeName[] = "ZAF-M8V-Prop-Feather-v1s";
extern const FeatherEvents featherEvents = {.out = 0x101D3, .in = 0x101D7};
