// Where the tests find the built gauge modules, and small helpers to drive them.
#pragma once

#include <memory>
#include <string>

#include "module.h"

namespace testing_support {

inline std::string GaugePath(const std::string& deliverable) { return std::string(GAUGE_DIR) + "/" + deliverable + ".gau"; }

inline std::unique_ptr<host::Module> LoadGauge(const std::string& deliverable, host::ModuleOptions options = {}) {
  return host::Module::Load(GaugePath(deliverable), std::move(options));
}

// Installs, initialises, updates and draws: what the host does before a gauge first shows.
inline void Start(host::Module& m) { m.start(); }

// A HostVariable record in guest memory holding `value`, for calling update callbacks directly.
inline uint32_t MakeVariable(host::Module& m, double value, uint32_t id = 0) {
  const uint32_t v = m.machine().alloc(28);
  m.machine().write32(v, id);
  m.machine().writeDouble(v + 12, value);
  return v;
}

}  // namespace testing_support
