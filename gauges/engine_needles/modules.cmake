gauge_module(manifold_gauge FOLDER engine_needles
  SOURCES engine_needle_value.cpp manifold_gauge.cpp RC manifold_gauge.rc
  ASSETS manifold_dial.bmp needle1.bmp needle2.bmp)
gauge_module(rpm_gauge FOLDER engine_needles
  SOURCES engine_needle_value.cpp rpm_gauge.cpp RC rpm_gauge.rc
  ASSETS rpm_dial.bmp needle1.bmp needle2.bmp)
