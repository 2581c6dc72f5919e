// What the click gauges' tests share: the event log in a comparable form, clicks, and the
// Icon words gauge code writes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "gauges.h"
#include "layout.h"

namespace click_gauges {

// One entry of the simulator's log: a sound (WAVE resource id) or a KeyEvent with its value.
struct Logged {
  bool sound = false;
  uint32_t id = 0;
  int32_t value = 0;
  bool operator==(const Logged&) const = default;
};

inline Logged Sound(uint32_t id) { return {true, id, 0}; }
inline Logged Key(uint32_t id, int32_t value = 0) { return {false, id, value}; }

inline std::ostream& operator<<(std::ostream& out, const Logged& e) {
  char text[48];
  std::snprintf(text, sizeof text, e.sound ? "sound %u" : "key 0x%X value %d", e.id, e.value);
  return out << text;
}

using Log = std::vector<Logged>;

// The log since the last call, which it empties.
inline Log TakeLog(host::Module& m) {
  Log log;
  for (const host::Event& e : m.simulator().events())
    log.push_back({e.kind == host::Event::Kind::Sound, e.id, e.kind == host::Event::Kind::Sound ? 0 : e.value});
  m.simulator().clearEvents();
  return log;
}

// A press and release at one point; false when no area answered.
inline bool Click(host::Module& m, int32_t x, int32_t y) {
  const bool hit = m.press(x, y);
  m.release(x, y);
  return hit;
}

// The gauge-owned `value` of an Icon, as gauge code left it in guest memory.
inline double IconValue(host::Module& m, uint32_t icon) {
  return m.machine().readDouble(icon + 4 * (layout::icon::variable + layout::host_variable::value));
}

inline uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// A module variable of the gauge, read from guest memory.
inline int32_t ModuleWord(host::Module& m, const char* name) {
  const auto address = m.symbolAddress(name);
  if (!address) ADD_FAILURE() << "no symbol " << name;
  return address ? static_cast<int32_t>(m.machine().read32(*address)) : INT32_MIN;
}

// True when `mirrored` is `picture` flipped left to right, pixel for pixel.
inline bool IsMirrorImage(const render::Image& picture, const render::Image& mirrored) {
  if (picture.width != mirrored.width || picture.height != mirrored.height) return false;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      if (!(picture.at(x, y) == mirrored.at(picture.width - 1 - x, y))) return false;
    }
  return true;
}

}  // namespace click_gauges
