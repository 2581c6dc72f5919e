gauge_module(ap_switch FOLDER ap_switch
  SOURCES ap_switch.cpp RC ap_switch.rc
  ASSETS switch_down.bmp switch_up.bmp)
