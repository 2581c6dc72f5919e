#include "wav.h"

#include <fstream>
#include <stdexcept>

namespace host {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
  out.insert(out.end(), id, id + 4);
  Put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) out.push_back(0);
}

}  // namespace

std::vector<uint8_t> WavImage(const Event& sound) {
  if (sound.kind != Event::Kind::Sound) throw std::invalid_argument("not a sound event");
  if (sound.format.size() < 14) throw std::invalid_argument("the sound has no wave format record");
  std::vector<uint8_t> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(out, 0);
  out.insert(out.end(), {'W', 'A', 'V', 'E'});
  PutChunk(out, "fmt ", sound.format);
  PutChunk(out, "data", sound.samples);
  const uint32_t riffLength = static_cast<uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(riffLength >> (8 * i));
  return out;
}

void WriteWav(const Event& sound, const std::string& path) {
  const std::vector<uint8_t> image = WavImage(sound);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace host
