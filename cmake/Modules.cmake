# Art and sounds are generated natively at build time; the modules are then cross-built from
# gauges/ with the i686 mingw-w64 toolchain, as an external project of this build.
include(ExternalProject)
set(GAUGE_FOLDERS "" CACHE STRING "Gauge folders to build (default: all)")
include(${CMAKE_SOURCE_DIR}/cmake/GaugeArt.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/GaugeSound.cmake OPTIONAL)

# Each gauge folder lists its bitmaps in assets.cmake and its sounds in sounds.cmake.
file(GLOB gauge_asset_lists ${CMAKE_SOURCE_DIR}/gauges/*/assets.cmake ${CMAKE_SOURCE_DIR}/gauges/*/sounds.cmake)
list(SORT gauge_asset_lists)
foreach(asset_list ${gauge_asset_lists})
  include(${asset_list})
endforeach()
get_property(gauge_assets GLOBAL PROPERTY GAUGE_ASSETS)
add_custom_target(gauge_assets ALL DEPENDS ${gauge_assets})

string(REPLACE ";" "|" gauge_folders "${GAUGE_FOLDERS}")
ExternalProject_Add(gauge_modules
  LIST_SEPARATOR |
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/gauges
  BINARY_DIR ${CMAKE_BINARY_DIR}/modules
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DGAUGE_ASSET_DIR=${GAUGE_ASSET_DIR}
    -DGAUGE_OUTPUT_DIR=${GAUGE_OUTPUT_DIR}
    "-DGAUGE_FOLDERS=${gauge_folders}"
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  DEPENDS gauge_assets)
