// Numbers as users type them on the command line and in scenario files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// A whole number in decimal or 0x hex, optionally negative; nullopt when the text is not one.
std::optional<int64_t> ParseInteger(const std::string& text);
// A real number (or a whole number in either form); nullopt when the text is not one.
std::optional<double> ParseReal(const std::string& text);
// The shortest text that reads back as the same double.
std::string FormatReal(double value);

}  // namespace cli
