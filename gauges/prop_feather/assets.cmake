# Bitmaps of the propeller feather button, rasterized from the SVGs in art/. Build B's button
# pictures are the exact mirror images of build A's.
set(_prop_feather_art ${GAUGE_ASSET_DIR}/prop_feather)
gauge_bitmap(${_prop_feather_art}/background.bmp SVG art/background.svg SIZE 53x59 FORMAT pal8)
gauge_bitmap(${_prop_feather_art}/button_out_a.bmp SVG art/button_out_a.svg SIZE 53x59 FORMAT pal8)
gauge_bitmap(${_prop_feather_art}/button_in_a.bmp SVG art/button_in_a.svg SIZE 53x59 FORMAT pal8)
gauge_bitmap_mirror(${_prop_feather_art}/button_out_b.bmp FROM ${_prop_feather_art}/button_out_a.bmp)
gauge_bitmap_mirror(${_prop_feather_art}/button_in_b.bmp FROM ${_prop_feather_art}/button_in_a.bmp)
unset(_prop_feather_art)
