# The sample panels: each panel.cfg is copied to ${CMAKE_BINARY_DIR}/panels/<panel>/ and its
# background SVG rasterized next to it as the 24-bit BMP the cfg names. Included by
# bench/panel/CMakeLists.txt; the target `sample_panels` (built by default) makes them.
include(${CMAKE_SOURCE_DIR}/cmake/GaugeArt.cmake)

set(SAMPLE_PANEL_DIR ${CMAKE_BINARY_DIR}/panels CACHE INTERNAL "Where the sample panels are built")
set(_panel_files "")

function(_sample_panel name size)
  set(out ${SAMPLE_PANEL_DIR}/${name})
  gauge_bitmap(${out}/background.bmp SVG ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}/art/background.svg
               SIZE ${size} FORMAT rgb24)
  # gauge_bitmap lists every bitmap for the gauge modules' asset target, which lives in another
  # folder; the panel's background is this folder's own.
  get_property(assets GLOBAL PROPERTY GAUGE_ASSETS)
  list(REMOVE_ITEM assets ${out}/background.bmp)
  set_property(GLOBAL PROPERTY GAUGE_ASSETS ${assets})
  add_custom_command(
    OUTPUT ${out}/panel.cfg
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}/panel.cfg ${out}/panel.cfg
    DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}/panel.cfg
    COMMENT "Copying the ${name} panel.cfg"
    VERBATIM)
  set(_panel_files ${_panel_files} ${out}/background.bmp ${out}/panel.cfg PARENT_SCOPE)
endfunction()

_sample_panel(twin_main 1024x540)

add_custom_target(sample_panels ALL DEPENDS ${_panel_files})
unset(_panel_files)
