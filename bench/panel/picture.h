// Drawing gauges onto a window, and PNG encoding fast enough for live frames.
#pragma once

#include <cstdint>
#include <vector>

#include "render/image.h"

namespace panel {

// Draws src over the w x h box at (x, y) of dst. At the gauge's own size this is render::blit.
// Scaled, each destination pixel takes the area average of the source pixels it covers when
// shrinking, and a bilinear blend of the nearest four when enlarging; see-through source pixels
// count as "show what is below", so edges blend into the panel instead of stair-stepping. Clipped
// to dst; an empty box or source draws nothing.
void drawScaled(render::Image& dst, const render::Image& src, int x, int y, int w, int h);

// The mark of a gauge that could not be shown: a dim red box with a red outline and a cross.
void drawPlaceholder(render::Image& dst, int x, int y, int w, int h);

}  // namespace panel
