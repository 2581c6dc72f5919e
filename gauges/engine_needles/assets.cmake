# Bitmaps of the manifold pressure and tachometer modules, rasterized from the SVGs in art/.
set(_engine_needles_art ${GAUGE_ASSET_DIR}/engine_needles)
gauge_bitmap(${_engine_needles_art}/manifold_dial.bmp SVG art/manifold_dial.svg SIZE 302x302 FORMAT pal8)
gauge_bitmap(${_engine_needles_art}/rpm_dial.bmp SVG art/rpm_dial.svg SIZE 302x302 FORMAT pal8)
gauge_bitmap(${_engine_needles_art}/needle1.bmp SVG art/needle1.svg SIZE 130x21 FORMAT pal8)
gauge_bitmap(${_engine_needles_art}/needle2.bmp SVG art/needle2.svg SIZE 130x21 FORMAT pal8)
unset(_engine_needles_art)
