#include "config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <map>
#include <string_view>

namespace panel {
namespace {

constexpr int kMaxCoordinate = 100000;
constexpr int kMaxSize = 16384;

std::string Trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string WithoutSpaces(std::string s) {
  std::erase_if(s, [](char c) { return c == ' ' || c == '\t'; });
  return s;
}

// A whole number: optional sign, decimal digits, nothing else.
std::optional<int> Integer(const std::string& text, int lowest, int highest) {
  std::string_view s = text;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  long long v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < lowest || v > highest) return std::nullopt;
  return static_cast<int>(v);
}

std::optional<double> Real(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !(v == v)) return std::nullopt;
  return v;
}

// "prefixNN" -> NN, for keys such as window00 and gauge12.
std::optional<int> Numbered(const std::string& key, std::string_view prefix) {
  if (key.size() <= prefix.size() || key.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string digits = key.substr(prefix.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  return Integer(digits, 0, 9999);
}

std::vector<std::string> Fields(const std::string& value) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t comma = value.find(',', start);
    out.push_back(Trim(std::string_view(value).substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

class Parser {
 public:
  Parser(const std::string& file) : file_(file) {}

  Config run(std::istream& in) {
    std::string raw;
    for (line_ = 1; std::getline(in, raw); ++line_) {
      if (line_ == 1 && raw.rfind("\xEF\xBB\xBF", 0) == 0) raw.erase(0, 3);
      if (const size_t comment = raw.find("//"); comment != std::string::npos) raw.erase(comment);
      const std::string text = Trim(raw);
      if (text.empty()) continue;
      if (text.front() == '[') {
        section(text);
      } else {
        entry(text);
      }
    }
    finish();
    return std::move(config_);
  }

 private:
  enum class Section { None, Titles, Window, Other };

  void warn(const std::string& message, int line = -1) { config_.warnings.push_back({file_, line < 0 ? line_ : line, message}); }

  void section(const std::string& text) {
    if (text.back() != ']') {
      warn("malformed section header " + Quoted(text) + " (no closing ']'); its lines are skipped");
      section_ = Section::Other;
      return;
    }
    const std::string name = Lower(WithoutSpaces(text.substr(1, text.size() - 2)));
    if (name == "windowtitles") {
      section_ = Section::Titles;
      return;
    }
    if (name.rfind("window", 0) == 0) {
      const auto number = Numbered(name, "window");
      if (!number) {
        warn("section " + text + " is not [WindowNN]; its lines are skipped");
        section_ = Section::Other;
        return;
      }
      section_ = Section::Window;
      if (auto it = byNumber_.find(*number); it != byNumber_.end()) {
        current_ = it->second;
        warn(text + " appears again (first at line " + std::to_string(config_.windows[current_].line) +
             "); its keys add to that window");
        return;
      }
      current_ = config_.windows.size();
      byNumber_[*number] = current_;
      WindowConfig w;
      w.number = *number;
      w.line = line_;
      config_.windows.push_back(std::move(w));
      return;
    }
    section_ = Section::Other;  // [Views], [Color], ...: the simulator's, not the panel's
  }

  void entry(const std::string& text) {
    const size_t eq = text.find('=');
    if (section_ == Section::Other) return;
    if (eq == std::string::npos) {
      warn("expected KEY=VALUE, got " + Quoted(text));
      return;
    }
    const std::string key = Lower(Trim(std::string_view(text).substr(0, eq)));
    const std::string value = Trim(std::string_view(text).substr(eq + 1));
    switch (section_) {
      case Section::None:
        warn(key + "= lies outside every section; skipped");
        return;
      case Section::Titles:
        if (const auto n = Numbered(key, "window")) titles_[*n] = {value, line_};
        return;
      case Section::Window:
        windowKey(config_.windows[current_], key, value);
        return;
      case Section::Other:
        return;
    }
  }

  void windowKey(WindowConfig& w, const std::string& key, const std::string& value) {
    if (key == "file") {
      w.file = value.size() >= 2 && value.front() == '"' && value.back() == '"' ? value.substr(1, value.size() - 2) : value;
    } else if (key == "size_mm") {
      const auto f = Fields(value);
      const auto width = f.size() == 2 ? Integer(f[0], 1, kMaxSize) : std::nullopt;
      const auto height = f.size() == 2 ? Integer(f[1], 1, kMaxSize) : std::nullopt;
      if (!width || !height) {
        warn("size_mm wants W,H in whole millimetres, got " + Quoted(value));
        return;
      }
      w.sizeMmW = width, w.sizeMmH = height;
    } else if (key == "window_size_ratio") {
      const auto r = Real(value);
      if (!r || *r <= 0) {
        warn("window_size_ratio wants a positive number, got " + Quoted(value));
        return;
      }
      w.sizeRatio = *r;
    } else if (key == "position") {
      const auto p = Integer(value, 0, 1000);
      if (!p) {
        warn("position wants a whole number, got " + Quoted(value));
        return;
      }
      w.positionCode = *p;
    } else if (key == "visible") {
      const std::string v = Lower(value);
      if (v == "1" || v == "yes" || v == "true" || v == "on") {
        w.visible = true;
      } else if (v == "0" || v == "no" || v == "false" || v == "off") {
        w.visible = false;
      } else {
        warn("visible wants 1 or 0, got " + Quoted(value));
      }
    } else if (key == "ident") {
      w.ident = value;
    } else if (key.rfind("gauge", 0) == 0) {
      if (!Numbered(key, "gauge")) {
        warn(Quoted(key) + " is not gaugeNN; line skipped");
        return;
      }
      gauge(w, key, value);
    }
    // Any other key is the simulator's business.
  }

  void gauge(WindowConfig& w, const std::string& key, const std::string& value) {
    const auto f = Fields(value);
    if (f.size() < 3) {
      warn(key + ": expected NAME, x, y[, w[, h]], got " + Quoted(value));
      return;
    }
    const auto x = Integer(f[1], -kMaxCoordinate, kMaxCoordinate);
    const auto y = Integer(f[2], -kMaxCoordinate, kMaxCoordinate);
    if (!x || !y) {
      warn(key + ": the position " + Quoted(f[1]) + ", " + Quoted(f[2]) + " is not two whole numbers; line skipped");
      return;
    }
    GaugeLine g;
    g.name = f[0];
    g.x = *x, g.y = *y;
    g.line = line_;
    if (g.name.empty()) g.error = "no gauge name";
    for (size_t i = 3; i < f.size() && i < 5 && g.error.empty(); ++i) {
      const char* what = i == 3 ? "width" : "height";
      const auto v = Integer(f[i], 1, kMaxSize);
      if (!v) {
        g.error = std::string("the ") + what + " " + Quoted(f[i]) + " is not a whole number from 1 to " + std::to_string(kMaxSize);
      } else {
        (i == 3 ? g.w : g.h) = *v;
      }
    }
    if (!g.error.empty()) warn(key + ": " + g.error);
    if (f.size() > 5) warn(key + ": " + std::to_string(f.size() - 5) + " field(s) after the height ignored");
    w.gauges.push_back(std::move(g));
  }

  void finish() {
    for (const auto& [number, title] : titles_) {
      if (auto it = byNumber_.find(number); it != byNumber_.end()) {
        config_.windows[it->second].title = title.first;
      } else {
        const std::string nn = (number < 10 ? "0" : "") + std::to_string(number);
        warn("window" + nn + " has a title but no [Window" + nn + "] section", title.second);
      }
    }
    std::stable_sort(config_.windows.begin(), config_.windows.end(),
                     [](const WindowConfig& a, const WindowConfig& b) { return a.number < b.number; });
  }

  std::string file_;
  int line_ = 0;
  Section section_ = Section::None;
  size_t current_ = 0;
  std::map<int, size_t> byNumber_;
  std::map<int, std::pair<std::string, int>> titles_;
  Config config_;
};

}  // namespace

Config ParseConfig(std::istream& in, const std::string& file) { return Parser(file).run(in); }

}  // namespace panel
