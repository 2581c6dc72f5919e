gauge_module(quadrant FOLDER quadrant
  SOURCES quadrant.cpp RC quadrant.rc
  ASSETS background.bmp throttle_knob.bmp propeller_knob.bmp mixture_knob.bmp)
