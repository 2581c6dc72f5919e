// wavegen's work: a short synthesized click as a RIFF/WAVE image, the bytes a module carries as
// its WAVE resource.
//
// The image is "RIFF", L, "WAVE", then the chunks "fmt " (a 16-byte PCM format, or the 18-byte
// WAVEFORMATEX with cbSize 0), optionally "fact" (4 bytes: the number of sample frames) and
// "data" (the samples, padded to an even length). The click is a few cycles of a decaying tone
// with a short burst of noise at its start. Only +, -, * and / on doubles and a fixed-seed
// integer noise generator are used, so the same arguments give the same bytes on every machine.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace wavegen {

struct WaveError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ClickParams {
  unsigned channels = 1;         // 1 or 2; every channel carries the same click
  unsigned sampleRate = 22050;   // frames per second
  unsigned bitsPerSample = 8;    // 8 (unsigned, centred on 128) or 16 (signed)
  unsigned frames = 0;           // length of the click in sample frames
  unsigned formatBytes = 16;     // "fmt " chunk body: 16, or 18 with cbSize 0
  bool factChunk = false;        // a "fact" chunk between "fmt " and "data"
  double toneHz = 1000.0;        // pitch of the decaying tone
  uint32_t seed = 0x2545F491u;   // noise burst
};

// Throws WaveError on parameters it cannot write.
std::vector<uint8_t> MakeClickWave(const ClickParams& params);

}  // namespace wavegen
