// prop_feather_a: build A of the feather button.
#include "frame.h"
#include "prop_feather.h"

extern const char gaugeName[] = "ZAF-M8V-Prop-Feather2-v1s";
extern const FeatherEvents featherEvents = {.out = 0x101D8, .in = 0x101DC};
