#include "wave.h"

#include <string>

namespace wavegen {
namespace {

constexpr double kPi = 3.14159265358979323846;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutId(std::vector<uint8_t>& out, const char (&id)[5]) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

// sin and cos of a small angle by their series: basic arithmetic only, so the same everywhere.
void SinCos(double x, double& s, double& c) {
  s = 0.0, c = 0.0;
  double term = 1.0;  // x^k / k!
  for (int k = 0; k < 30; ++k) {
    switch (k % 4) {
      case 0: c += term; break;
      case 1: s += term; break;
      case 2: c -= term; break;
      case 3: s -= term; break;
    }
    term = term * x / (k + 1);
  }
}

// xorshift32: a fixed sequence for a fixed seed, evenly spread in [-1, 1).
struct Noise {
  uint32_t state;
  double next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
  }
};

// Rounds half away from zero without the library (the same on every machine).
long Round(double v) { return v >= 0 ? static_cast<long>(v + 0.5) : -static_cast<long>(-v + 0.5); }

// The click as values in [-1, 1], one per frame.
std::vector<double> Click(const ClickParams& params) {
  const double step = 2.0 * kPi * params.toneHz / params.sampleRate;
  double s, c;
  SinCos(step, s, c);
  // The tone falls to about 1% over the click; the noise within about 1.5 ms.
  const double toneDecay = 1.0 - 4.6 / params.frames;
  const double noiseFrames = params.sampleRate * 0.0015;
  const double noiseDecay = noiseFrames > 4.6 ? 1.0 - 4.6 / noiseFrames : 0.0;
  const unsigned fade = params.frames < 16 ? params.frames : 16;  // ramp to silence at the end
  Noise noise{params.seed == 0 ? 1u : params.seed};
  std::vector<double> out(params.frames);
  double x = 0.0, y = 1.0;  // the tone's phase as a point on the unit circle, sin = x
  double tone = 0.55, burst = 0.4;
  for (unsigned n = 0; n < params.frames; ++n) {
    double v = tone * x + burst * noise.next();
    if (n >= params.frames - fade) v = v * (params.frames - 1 - n) / fade;
    out[n] = v < -1.0 ? -1.0 : v > 1.0 ? 1.0 : v;
    const double nx = x * c + y * s;
    y = y * c - x * s;
    x = nx;
    tone *= toneDecay;
    burst *= noiseDecay;
  }
  return out;
}

}  // namespace

std::vector<uint8_t> MakeClickWave(const ClickParams& params) {
  if (params.channels != 1 && params.channels != 2) throw WaveError("channels must be 1 or 2");
  if (params.bitsPerSample != 8 && params.bitsPerSample != 16) throw WaveError("bits per sample must be 8 or 16");
  if (params.sampleRate < 1000 || params.sampleRate > 192000) throw WaveError("sample rate must be 1000 to 192000");
  if (params.frames < 8 || params.frames > 10 * params.sampleRate) throw WaveError("frames must be 8 to 10 seconds' worth");
  if (params.formatBytes != 16 && params.formatBytes != 18) throw WaveError("the format chunk is 16 or 18 bytes");
  if (!(params.toneHz > 0.0 && params.toneHz < params.sampleRate / 2.0)) throw WaveError("tone must lie below half the sample rate");

  const uint32_t blockAlign = params.channels * params.bitsPerSample / 8;
  const uint32_t dataBytes = params.frames * blockAlign;
  std::vector<uint8_t> data;
  data.reserve(dataBytes + 1);
  for (double v : Click(params)) {
    for (unsigned ch = 0; ch < params.channels; ++ch) {
      if (params.bitsPerSample == 8) {
        data.push_back(static_cast<uint8_t>(128 + Round(v * 127.0)));
      } else {
        Put16(data, static_cast<uint16_t>(static_cast<int16_t>(Round(v * 32767.0))));
      }
    }
  }

  std::vector<uint8_t> out;
  PutId(out, "RIFF");
  Put32(out, 0);  // RIFF length, below
  PutId(out, "WAVE");
  PutId(out, "fmt ");
  Put32(out, params.formatBytes);
  Put16(out, 1);  // PCM
  Put16(out, params.channels);
  Put32(out, params.sampleRate);
  Put32(out, params.sampleRate * blockAlign);
  Put16(out, blockAlign);
  Put16(out, params.bitsPerSample);
  if (params.formatBytes == 18) Put16(out, 0);  // cbSize: no extra format bytes
  if (params.factChunk) {
    PutId(out, "fact");
    Put32(out, 4);
    Put32(out, params.frames);
  }
  PutId(out, "data");
  Put32(out, dataBytes);
  out.insert(out.end(), data.begin(), data.end());
  if (dataBytes % 2 != 0) out.push_back(0);  // pad byte
  const uint32_t riffLength = static_cast<uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(riffLength >> (8 * i));
  return out;
}

}  // namespace wavegen
