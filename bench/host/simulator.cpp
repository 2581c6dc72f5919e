#include "simulator.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace host {
namespace {

// The lever and switch variables the panel's controls command.
const std::vector<KeyRule> kDefaultRules = {
    {0x1002C, 0x67, -2147483648.0, 2147483647.0},  // autopilot master
    {0x1011C, 0x80, -4096, 16384},                 // throttle 1
    {0x1011D, 0xA3, -4096, 16384},                 // throttle 2
    {0x10183, 0x81, 0, 16384},                     // propeller 1
    {0x10184, 0xA4, 0, 16384},                     // propeller 2
    {0x1017F, 0x82, 0, 16384},                     // mixture 1
    {0x10180, 0xA5, 0, 16384},                     // mixture 2
};

bool ParseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  try {
    size_t used = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      out = static_cast<double>(std::stoull(text.substr(2), &used, 16));
      return used == text.size() - 2;
    }
    out = std::stod(text, &used);
    return used == text.size();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string FormatEvent(const Event& e) {
  char line[160];
  if (e.kind == Event::Kind::Key) {
    std::snprintf(line, sizeof line, "key   0x%05X (%u) value 0x%X (%d)", e.id, e.id,
                  static_cast<uint32_t>(e.value), e.value);
  } else {
    std::snprintf(line, sizeof line, "sound %u (%zu bytes of samples)", e.id, e.samples.size());
  }
  return (e.module.empty() ? "" : e.module + ": ") + line;
}

Simulator::Simulator() : rules_(kDefaultRules) {}

double Simulator::variable(uint32_t id) const {
  auto it = variables_.find(id);
  return it == variables_.end() ? 0.0 : it->second;
}

void Simulator::setVariable(uint32_t id, double value) { variables_[id] = value; }

void Simulator::keyEvent(const std::string& module, uint32_t id, int32_t value) {
  Event e;
  e.kind = Event::Kind::Key;
  e.module = module;
  e.id = id;
  e.value = value;
  events_.push_back(std::move(e));
  for (const KeyRule& rule : rules_) {
    if (rule.keyEvent == id) {
      variables_[rule.variable] = std::clamp(static_cast<double>(value), rule.minimum, rule.maximum);
    }
  }
}

void Simulator::sound(Event event) {
  event.kind = Event::Kind::Sound;
  events_.push_back(std::move(event));
}

void Simulator::loadRules(std::istream& in, const std::string& sourceName) {
  std::vector<KeyRule> rules;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string w; words >> w;) fields.push_back(w);
    if (fields.empty()) continue;
    double v[4] = {0, 0, -2147483648.0, 2147483647.0};
    const bool ok = (fields.size() == 2 || fields.size() == 4) &&
                    std::all_of(fields.begin(), fields.end(), [&, i = 0](const std::string& f) mutable {
                      return ParseNumber(f, v[i++]);
                    });
    if (!ok || v[2] > v[3]) {
      throw std::runtime_error(sourceName + ":" + std::to_string(number) +
                               ": expected \"KEYEVENT VARIABLE [MIN MAX]\", got \"" + line + "\"");
    }
    rules.push_back({static_cast<uint32_t>(v[0]), static_cast<uint32_t>(v[1]), v[2], v[3]});
  }
  rules_ = std::move(rules);
}

}  // namespace host
