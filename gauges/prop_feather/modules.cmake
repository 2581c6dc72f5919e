gauge_module(prop_feather_a FOLDER prop_feather
  SOURCES prop_feather.cpp prop_feather_a.cpp RC prop_feather_a.rc
  ASSETS background.bmp button_out_a.bmp button_in_a.bmp click.wav
  SOUND)
gauge_module(prop_feather_b FOLDER prop_feather
  SOURCES prop_feather.cpp prop_feather_b.cpp RC prop_feather_b.rc
  ASSETS background.bmp button_out_b.bmp button_in_b.bmp click.wav
  SOUND)
