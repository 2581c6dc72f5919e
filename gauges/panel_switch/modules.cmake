gauge_module(panel_switch_a FOLDER panel_switch
  SOURCES panel_switch.cpp panel_switch_a.cpp RC panel_switch_a.rc
  ASSETS button_a.bmp overlay.bmp click.wav
  SOUND)
gauge_module(panel_switch_b FOLDER panel_switch
  SOURCES panel_switch.cpp panel_switch_b.cpp RC panel_switch_b.rc
  ASSETS button_b.bmp overlay.bmp click.wav
  SOUND)
