# Bitmaps of the cowl flap control, rasterized from the SVGs in art/. Both levers show the same
# three lever pictures.
set(_cowl_flaps_art ${GAUGE_ASSET_DIR}/cowl_flaps)
gauge_bitmap(${_cowl_flaps_art}/placard.bmp SVG art/placard.svg SIZE 300x117 FORMAT pal8)
gauge_bitmap(${_cowl_flaps_art}/lever_open.bmp SVG art/lever_open.svg SIZE 110x110 FORMAT rgb24)
gauge_bitmap(${_cowl_flaps_art}/lever_trail.bmp SVG art/lever_trail.svg SIZE 110x110 FORMAT rgb24)
gauge_bitmap(${_cowl_flaps_art}/lever_close.bmp SVG art/lever_close.svg SIZE 110x110 FORMAT rgb24)
unset(_cowl_flaps_art)
