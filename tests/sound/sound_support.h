// What the sound player's tests share: a clicking gauge module with its player called directly,
// the player's module variables, the bench's log of DirectSound and resource calls, and RIFF
// images built chunk by chunk.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gauges.h"
#include "wave_riff.h"
#include "win32.h"

namespace sound_test {

// The clicking gauges and the WAVE resource each plays.
struct ClickingGauge {
  const char* deliverable;
  uint16_t resourceId;
};
inline constexpr ClickingGauge kClickingGauges[] = {
    {"cowl_flaps", 5001},     {"prop_feather_a", 6001}, {"prop_feather_b", 6001}, {"marker_lights_a", 6001},
    {"marker_lights_b", 6001}, {"panel_switch_a", 3001}, {"panel_switch_b", 3001},
};

// The module the player's behaviour is tested on, and its sound.
inline constexpr const char* kModule = "cowl_flaps";
inline constexpr uint16_t kClick = 5001;

// DirectSound and Win32 results used to make the platform fail.
inline constexpr uint32_t kBufferLost = win32::dserr::kBufferLost;
inline constexpr uint32_t kNoDriver = win32::dserr::kNoDriver;
inline constexpr uint32_t kAllocated = win32::dserr::kAllocated;
inline constexpr uint32_t kInvalidCall = win32::dserr::kInvalidCall;
inline constexpr uint32_t kOutOfMemory = 0x8007000E;
inline constexpr uint32_t kGeneric = 0x80004005;

inline bool IsResourceCall(const std::string& api) {
  return api == "FindResourceA" || api == "LoadResource" || api == "LockResource" || api == "SizeofResource";
}
inline bool IsDirectSoundCall(const std::string& api) {
  return api == "DirectSoundCreate" || api.rfind("IDirectSound", 0) == 0;
}

// A loaded gauge module whose PlayWaveResource the test calls as a mouse handler would.
class Player {
 public:
  explicit Player(const std::string& deliverable = kModule) : m(testing_support::LoadGauge(deliverable)) {
    const auto play = m->symbolAddress("PlayWaveResource");
    if (!play) throw std::runtime_error(deliverable + " has no PlayWaveResource symbol");
    play_ = *play;
  }

  // PlayWaveResource(id): its result. Throws guest::Fault if the guest code faults.
  int32_t Play(int32_t id = kClick) {
    const uint32_t args[] = {static_cast<uint32_t>(id)};
    const guest::CallResult r = m->machine().call(play_, args, "PlayWaveResource");
    instructions = r.instructions;
    return static_cast<int32_t>(r.eax);
  }

  // A module variable of the player.
  uint32_t Word(const char* name, unsigned word = 0) const {
    const auto address = m->symbolAddress(name);
    if (!address) throw std::runtime_error(std::string("no symbol ") + name);
    return m->machine().read32(*address + 4 * word);
  }
  int32_t Status() const { return static_cast<int32_t>(Word("SoundStatus")); }

  win32::State& Platform() { return m->win32(); }
  const std::vector<win32::ApiCall>& Log() const { return m->win32().apiLog; }
  std::vector<win32::ApiCall> LogSince(size_t mark) const {
    return {Log().begin() + static_cast<std::ptrdiff_t>(std::min(mark, Log().size())), Log().end()};
  }
  uint64_t Calls(const std::string& api) const {
    return std::count_if(Log().begin(), Log().end(), [&](const win32::ApiCall& c) { return c.name == api; });
  }
  // The sound events logged so far.
  std::vector<host::Event> Sounds() const {
    std::vector<host::Event> out;
    for (const host::Event& e : m->simulator().events())
      if (e.kind == host::Event::Kind::Sound) out.push_back(e);
    return out;
  }

  std::unique_ptr<host::Module> m;
  uint64_t instructions = 0;

 private:
  uint32_t play_ = 0;
};

// The parts of a WAVE resource: its "fmt " and "data" bodies as the player finds them.
struct WaveParts {
  std::vector<uint8_t> format, data;
};
inline std::optional<WaveParts> ParseWave(const std::vector<uint8_t>& image) {
  const void* format = nullptr;
  const void* data = nullptr;
  unsigned length = 0;
  if (!ParseWaveRiff(image.data(), static_cast<unsigned>(image.size()), &format, &data, &length)) return std::nullopt;
  auto* f = static_cast<const uint8_t*>(format);
  auto* d = static_cast<const uint8_t*>(data);
  return WaveParts{{f, f + 16}, {d, d + length}};
}

inline std::vector<uint8_t> WaveResource(const host::Module& m, uint16_t id) {
  const auto bytes = m.resource(pe::ResName::fromName("WAVE"), pe::ResName::fromId(id));
  if (!bytes) throw std::runtime_error(m.deliverable() + " has no WAVE resource " + std::to_string(id));
  return {bytes->begin(), bytes->end()};
}

// RIFF images, chunk by chunk ---------------------------------------------------------------

inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

struct Chunk {
  std::string id;
  std::vector<uint8_t> body;
  std::optional<uint32_t> length = std::nullopt;  // the length word, when it lies about the body
};

// A PCM format record of `size` bytes (14 cuts it before wBitsPerSample, 18 adds cbSize 0).
inline std::vector<uint8_t> PcmFormat(unsigned channels, unsigned rate, unsigned bits, size_t size = 16) {
  std::vector<uint8_t> f;
  const unsigned align = channels * bits / 8;
  Put16(f, 1);
  Put16(f, channels);
  Put32(f, rate);
  Put32(f, rate * align);
  Put16(f, align);
  Put16(f, bits);
  Put16(f, 0);
  f.resize(size, 0);
  return f;
}

inline std::vector<uint8_t> Samples(size_t count, uint8_t first = 0x40) {
  std::vector<uint8_t> s(count);
  for (size_t i = 0; i < count; ++i) s[i] = static_cast<uint8_t>(first + 7 * i);
  return s;
}

// "RIFF", L, "WAVE" and the chunks, each padded to an even length; L is the true length unless
// given.
inline std::vector<uint8_t> Riff(const std::vector<Chunk>& chunks, std::optional<uint32_t> riffLength = std::nullopt) {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  for (const Chunk& c : chunks) {
    out.insert(out.end(), c.id.begin(), c.id.end());
    Put32(out, c.length.value_or(static_cast<uint32_t>(c.body.size())));
    out.insert(out.end(), c.body.begin(), c.body.end());
    if (c.body.size() % 2 != 0) out.push_back(0);
  }
  const uint32_t l = riffLength.value_or(static_cast<uint32_t>(out.size() - 8));
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(l >> (8 * i));
  return out;
}

}  // namespace sound_test
