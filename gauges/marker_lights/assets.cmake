# Bitmaps of the marker beacon lights, rasterized from the SVGs in art/. The lamp pictures are laid
# on the face at (0,28), the lever pictures at (71,138).
set(_marker_lights_art ${GAUGE_ASSET_DIR}/marker_lights)
gauge_bitmap(${_marker_lights_art}/face.bmp SVG art/face.svg SIZE 217x213 FORMAT pal8)
foreach(_lamp lamps_off lamp_o lamp_a lamp_i)
  gauge_bitmap(${_marker_lights_art}/${_lamp}.bmp SVG art/${_lamp}.svg SIZE 217x120 FORMAT pal8)
endforeach()
gauge_bitmap(${_marker_lights_art}/lever_hi.bmp SVG art/lever_hi.svg SIZE 78x60 FORMAT pal8)
gauge_bitmap(${_marker_lights_art}/lever_lo.bmp SVG art/lever_lo.svg SIZE 78x60 FORMAT pal8)
unset(_lamp)
unset(_marker_lights_art)
