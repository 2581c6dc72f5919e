# Bitmaps of the engine control quadrant, rasterized from the SVGs in art/. The background is
# all see-through black; the knobs slide over the panel behind the gauge.
set(_quadrant_art ${GAUGE_ASSET_DIR}/quadrant)
gauge_bitmap(${_quadrant_art}/background.bmp SVG art/background.svg SIZE 190x68 FORMAT pal8)
gauge_bitmap(${_quadrant_art}/throttle_knob.bmp SVG art/throttle_knob.svg SIZE 38x25 FORMAT pal8)
gauge_bitmap(${_quadrant_art}/propeller_knob.bmp SVG art/propeller_knob.svg SIZE 23x29 FORMAT pal8)
gauge_bitmap(${_quadrant_art}/mixture_knob.bmp SVG art/mixture_knob.svg SIZE 25x29 FORMAT pal8)
unset(_quadrant_art)
