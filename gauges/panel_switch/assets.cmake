# Bitmaps of the panel push-button, rasterized from the SVGs in art/. Build B's button is the
# exact mirror image of build A's; the overlay is all see-through black.
set(_panel_switch_art ${GAUGE_ASSET_DIR}/panel_switch)
gauge_bitmap(${_panel_switch_art}/button_a.bmp SVG art/button_a.svg SIZE 32x28 FORMAT pal8)
gauge_bitmap_mirror(${_panel_switch_art}/button_b.bmp FROM ${_panel_switch_art}/button_a.bmp)
gauge_bitmap(${_panel_switch_art}/overlay.bmp SVG art/overlay.svg SIZE 18x20 FORMAT pal8)
unset(_panel_switch_art)
