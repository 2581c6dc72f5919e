#include "numbers.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace cli {

std::optional<int64_t> ParseInteger(const std::string& text) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string body = negative ? text.substr(1) : text;
  if (body.empty() || !std::isdigit(static_cast<unsigned char>(body[0]))) return std::nullopt;
  try {
    size_t used = 0;
    int64_t v;
    if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
      if (!std::isxdigit(static_cast<unsigned char>(body[2]))) return std::nullopt;
      v = static_cast<int64_t>(std::stoull(body.substr(2), &used, 16));
      used += 2;
    } else {
      v = std::stoll(body, &used, 10);
    }
    if (used != body.size()) return std::nullopt;
    return negative ? -v : v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<double> ParseReal(const std::string& text) {
  if (auto i = ParseInteger(text)) return static_cast<double>(*i);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  try {
    size_t used = 0;
    const double v = std::stod(text, &used);
    if (used == text.size()) return v;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::string FormatReal(double value) {
  char b[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(b, sizeof b, "%.*g", precision, value);
    double back = 0;
    if (std::sscanf(b, "%lf", &back) == 1 && back == value) break;
  }
  return b;
}

}  // namespace cli
