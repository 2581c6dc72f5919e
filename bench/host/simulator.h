// The bench's small simulator: a table of host variables, the events gauges sent, and the
// rules that turn KeyEvents into variable changes.
//
// Gauges never write host variables: they send KeyEvents, and the simulator answers by changing
// variables, which the gauges' elements show on their next update. One Simulator may serve
// several gauge modules (a whole panel), so a KeyEvent from one gauge shows on another.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host {

// One entry of the event log: a KeyEvent a gauge sent, or a sound it played.
struct Event {
  enum class Kind { Key, Sound };
  Kind kind = Kind::Key;
  std::string module;  // the deliverable that produced it
  uint32_t id = 0;     // KeyEvent id, or WAVE resource id
  int32_t value = 0;   // KeyEvent value
  // Sounds: the wave format record and the samples as the module handed them to DirectSound.
  std::vector<uint8_t> format;
  std::vector<uint8_t> samples;
};

std::string FormatEvent(const Event& event);  // one line, ids and values in hex and decimal

// A KeyEvent rule: the event sets `variable` to its value, limited to [minimum, maximum].
struct KeyRule {
  uint32_t keyEvent;
  uint32_t variable;
  double minimum;
  double maximum;
};

class Simulator {
 public:
  Simulator();  // starts with the default rules

  double variable(uint32_t id) const;  // 0.0 for variables never set
  void setVariable(uint32_t id, double value);
  const std::map<uint32_t, double>& variables() const { return variables_; }

  // Logs the event and applies the rule for its id, if any.
  void keyEvent(const std::string& module, uint32_t id, int32_t value);
  void sound(Event event);

  const std::vector<Event>& events() const { return events_; }
  void clearEvents() { events_.clear(); }

  const std::vector<KeyRule>& rules() const { return rules_; }
  // Replaces the rules from a text table: one rule a line, "KEYEVENT VARIABLE [MIN MAX]"
  // (numbers in decimal or 0x hex), '#' comments. Throws std::runtime_error naming the line.
  void loadRules(std::istream& in, const std::string& sourceName);

 private:
  std::map<uint32_t, double> variables_;
  std::vector<Event> events_;
  std::vector<KeyRule> rules_;
};

}  // namespace host
