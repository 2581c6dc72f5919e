# Build-time gauge bitmaps, made by the native `artgen` tool (tools/artgen).
#
#   gauge_bitmap(<out.bmp> SVG <file.svg> SIZE <W>x<H> FORMAT <pal8|rgb24>)
#   gauge_bitmap_mirror(<out.bmp> FROM <in.bmp>)
#
# Each call adds a custom command that writes <out.bmp> and, next to it, a preview <out>.png, and
# appends <out.bmp> to the global property GAUGE_ASSETS. A relative SVG or FROM path is taken from
# the folder of the file that makes the call; a relative output path from the current binary
# folder. The commands belong to the directory that makes the calls, so the target that depends
# on GAUGE_ASSETS must be made in that same directory (include() the asset lists, don't
# add_subdirectory() them).
include_guard(GLOBAL)

function(_gauge_art_paths out_var preview_var)
  cmake_path(ABSOLUTE_PATH ${out_var} BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE
             OUTPUT_VARIABLE out)
  cmake_path(REPLACE_EXTENSION out LAST_ONLY .png OUTPUT_VARIABLE preview)
  cmake_path(GET out PARENT_PATH out_dir)
  file(MAKE_DIRECTORY ${out_dir})
  set(${out_var} ${out} PARENT_SCOPE)
  set(${preview_var} ${preview} PARENT_SCOPE)
endfunction()

function(gauge_bitmap out_bmp)
  cmake_parse_arguments(PARSE_ARGV 1 ART "" "SVG;SIZE;FORMAT" "")
  if(ART_UNPARSED_ARGUMENTS OR NOT ART_SVG OR NOT ART_SIZE OR NOT ART_FORMAT)
    message(FATAL_ERROR "gauge_bitmap(${out_bmp}): want SVG <file> SIZE <W>x<H> FORMAT <pal8|rgb24>")
  endif()
  if(NOT ART_SIZE MATCHES "^[1-9][0-9]*x[1-9][0-9]*$")
    message(FATAL_ERROR "gauge_bitmap(${out_bmp}): SIZE '${ART_SIZE}' is not <W>x<H>")
  endif()
  if(NOT ART_FORMAT MATCHES "^(pal8|rgb24)$")
    message(FATAL_ERROR "gauge_bitmap(${out_bmp}): FORMAT '${ART_FORMAT}' is not pal8 or rgb24")
  endif()
  # Inside a function this is the folder of the calling file.
  cmake_path(ABSOLUTE_PATH ART_SVG BASE_DIRECTORY ${CMAKE_CURRENT_LIST_DIR} NORMALIZE
             OUTPUT_VARIABLE svg)
  set(out ${out_bmp})
  _gauge_art_paths(out preview)
  cmake_path(GET out FILENAME name)
  add_custom_command(
    OUTPUT ${out} ${preview}
    COMMAND artgen svg ${svg} ${out} --size ${ART_SIZE} --format ${ART_FORMAT} --preview ${preview}
    DEPENDS artgen ${svg}
    COMMENT "Rasterizing ${name}"
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY GAUGE_ASSETS ${out})
endfunction()

function(gauge_bitmap_mirror out_bmp)
  cmake_parse_arguments(PARSE_ARGV 1 ART "" "FROM" "")
  if(ART_UNPARSED_ARGUMENTS OR NOT ART_FROM)
    message(FATAL_ERROR "gauge_bitmap_mirror(${out_bmp}): want FROM <bmp>")
  endif()
  cmake_path(ABSOLUTE_PATH ART_FROM BASE_DIRECTORY ${CMAKE_CURRENT_LIST_DIR} NORMALIZE
             OUTPUT_VARIABLE from)
  set(out ${out_bmp})
  _gauge_art_paths(out preview)
  cmake_path(GET out FILENAME name)
  add_custom_command(
    OUTPUT ${out} ${preview}
    COMMAND artgen mirror ${from} ${out} --preview ${preview}
    DEPENDS artgen ${from}
    COMMENT "Mirroring ${name}"
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY GAUGE_ASSETS ${out})
endfunction()
