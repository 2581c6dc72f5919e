// The propeller feather button, shared by both builds of the mirrored pair. A build supplies
// its gauge name and the two KeyEvents below; its .rc supplies the button pictures.
#pragma once

#include "records.h"

// The KeyEvents a build sends when the button moves out and in, each with the value 0.
struct FeatherEvents {
  u32 out;
  u32 in;
};
extern const FeatherEvents featherEvents;
