# Builds every module a second time in a fresh folder and compares each with the first build.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/gauges -B ${WORK_DIR}/build -G Ninja
          -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
          -DGAUGE_ASSET_DIR=${ASSET_DIR} -DGAUGE_OUTPUT_DIR=${WORK_DIR}/gau "-DGAUGE_FOLDERS=${FOLDERS}"
  RESULT_VARIABLE configured OUTPUT_QUIET)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring the second build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE built OUTPUT_QUIET)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "the second build failed")
endif()
file(GLOB first ${FIRST_BUILD}/*.gau)
list(LENGTH first count)
if(count EQUAL 0)
  message(FATAL_ERROR "no modules in ${FIRST_BUILD}")
endif()
foreach(module ${first})
  get_filename_component(name ${module} NAME)
  file(SHA256 ${module} a)
  file(SHA256 ${WORK_DIR}/gau/${name} b)
  if(NOT a STREQUAL b)
    message(FATAL_ERROR "${name} differs between two builds")
  endif()
endforeach()
message(STATUS "${count} modules identical in two builds")
