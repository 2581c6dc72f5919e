// A sound Event (a click a module played through DirectSound) as a .wav file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "simulator.h"

namespace host {

// The RIFF/WAVE image of a sound: "fmt " holds the event's format record, "data" its samples
// (padded to an even length). Throws std::invalid_argument for a KeyEvent or a sound without a
// format record.
std::vector<uint8_t> WavImage(const Event& sound);

// Writes WavImage(sound) to `path`; throws std::runtime_error naming the path if it cannot.
void WriteWav(const Event& sound, const std::string& path);

}  // namespace host
