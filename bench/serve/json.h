// Just enough JSON writing for the server's answers.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

namespace serve {

// `text` as a JSON string literal, quotes included. Bytes that are not valid UTF-8 become U+FFFD,
// so the result is always valid JSON whatever a module or a file name holds.
inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // Multi-byte sequence: copy it when well formed, else one replacement character.
      const size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
      bool ok = length != 0 && i + length <= text.size();
      for (size_t k = 1; ok && k < length; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      if (ok) {
        out.append(text.substr(i, length));
        i += length;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
    }
  }
  return out + "\"";
}

// A number as JSON; NaN and infinities (which JSON cannot hold) become null.
inline std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

}  // namespace serve
