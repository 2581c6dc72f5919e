# Build-time gauge click sounds, made by the native `wavegen` tool (tools/wavegen).
#
#   gauge_wave(<out.wav> CHANNELS <1|2> RATE <Hz> BITS <8|16> FRAMES <n> FMT_BYTES <16|18>
#              [FACT] [TONE <Hz>] [SEED <n>])
#
# Each call adds a custom command that writes <out.wav>, a RIFF/WAVE image with the chunks
# "fmt " (FMT_BYTES long), "fact" (with FACT) and "data" (FRAMES sample frames), in that order,
# and appends <out.wav> to the global property GAUGE_ASSETS. A relative output path is taken
# from the current binary folder. As with the bitmaps (GaugeArt.cmake), the target that depends
# on GAUGE_ASSETS must be made in the directory that makes the calls.
include_guard(GLOBAL)

function(gauge_wave out_wav)
  cmake_parse_arguments(PARSE_ARGV 1 WAV "FACT" "CHANNELS;RATE;BITS;FRAMES;FMT_BYTES;TONE;SEED" "")
  if(WAV_UNPARSED_ARGUMENTS OR NOT WAV_CHANNELS OR NOT WAV_RATE OR NOT WAV_BITS OR NOT WAV_FRAMES
     OR NOT WAV_FMT_BYTES)
    message(FATAL_ERROR "gauge_wave(${out_wav}): want CHANNELS RATE BITS FRAMES FMT_BYTES [FACT] [TONE] [SEED]")
  endif()
  if(NOT WAV_CHANNELS MATCHES "^[12]$" OR NOT WAV_BITS MATCHES "^(8|16)$" OR NOT WAV_FMT_BYTES MATCHES "^(16|18)$")
    message(FATAL_ERROR "gauge_wave(${out_wav}): CHANNELS 1|2, BITS 8|16, FMT_BYTES 16|18")
  endif()
  cmake_path(ABSOLUTE_PATH out_wav BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE OUTPUT_VARIABLE out)
  cmake_path(GET out PARENT_PATH out_dir)
  cmake_path(GET out FILENAME name)
  file(MAKE_DIRECTORY ${out_dir})
  set(args --channels ${WAV_CHANNELS} --rate ${WAV_RATE} --bits ${WAV_BITS} --frames ${WAV_FRAMES}
           --fmt-bytes ${WAV_FMT_BYTES})
  if(WAV_FACT)
    list(APPEND args --fact)
  endif()
  if(WAV_TONE)
    list(APPEND args --tone ${WAV_TONE})
  endif()
  if(WAV_SEED)
    list(APPEND args --seed ${WAV_SEED})
  endif()
  add_custom_command(
    OUTPUT ${out}
    COMMAND wavegen ${out} ${args}
    DEPENDS wavegen
    COMMENT "Synthesizing ${name}"
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY GAUGE_ASSETS ${out})
endfunction()
