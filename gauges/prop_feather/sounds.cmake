# WAVE 6001, the click of the feather button: PCM, 1 channel, 11,025 Hz, 16 bits; chunks
# "fmt " (16 bytes), "fact" (4 bytes), "data" (1534 bytes: 767 frames, about 70 ms).
gauge_wave(${GAUGE_ASSET_DIR}/prop_feather/click.wav
  CHANNELS 1 RATE 11025 BITS 16 FRAMES 767 FMT_BYTES 16 FACT TONE 700)
