# WAVE 6001, the click of the HI/LO lever: PCM, 2 channels, 22,050 Hz, 8 bits; chunks
# "fmt " (18 bytes), "fact" (4 bytes), "data" (628 bytes: 314 frames, about 14 ms).
gauge_wave(${GAUGE_ASSET_DIR}/marker_lights/click.wav
  CHANNELS 2 RATE 22050 BITS 8 FRAMES 314 FMT_BYTES 18 FACT TONE 1800)
