# Bitmaps of the autopilot main switch, rasterized from the SVGs in art/.
set(_ap_switch_art ${GAUGE_ASSET_DIR}/ap_switch)
gauge_bitmap(${_ap_switch_art}/switch_down.bmp SVG art/switch_down.svg SIZE 32x70 FORMAT pal8)
gauge_bitmap(${_ap_switch_art}/switch_up.bmp SVG art/switch_up.svg SIZE 32x70 FORMAT pal8)
unset(_ap_switch_art)
