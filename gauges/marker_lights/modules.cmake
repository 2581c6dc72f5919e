# Both builds share the records, the routines and the resources; each names its gauge.
gauge_module(marker_lights_a FOLDER marker_lights
  SOURCES marker_lights.cpp marker_lights_a.cpp RC marker_lights.rc
  ASSETS face.bmp lamps_off.bmp lamp_o.bmp lamp_a.bmp lamp_i.bmp lever_hi.bmp lever_lo.bmp click.wav
  SOUND)
gauge_module(marker_lights_b FOLDER marker_lights
  SOURCES marker_lights.cpp marker_lights_b.cpp RC marker_lights.rc
  ASSETS face.bmp lamps_off.bmp lamp_o.bmp lamp_a.bmp lamp_i.bmp lever_hi.bmp lever_lo.bmp click.wav
  SOUND)
