gauge_module(cowl_flaps FOLDER cowl_flaps
  SOURCES cowl_flaps.cpp RC cowl_flaps.rc
  ASSETS placard.bmp lever_open.bmp lever_trail.bmp lever_close.bmp click.wav
  SOUND)
