#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "engine/engine_errors.h"
#include "engine/logger.h"
#include "engine/option_parser.h"

namespace qm::engine {

namespace {

bool ParseWhole(const std::string& text, long long& value) {
  if (text.empty()) return false;
  const char* s = text.c_str();
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  int base = 10;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s += 2;
  } else if (s[0] == '$') {
    base = 16;
    ++s;
  }
  if (!*s) return false;
  unsigned long long magnitude = 0;
  auto [end, ec] = std::from_chars(s, text.c_str() + text.size(), magnitude, base);
  if (ec != std::errc() || *end) return false;
  if (negative) {
    if (magnitude > 1ull + std::numeric_limits<long long>::max()) return false;
    value = magnitude == 1ull + std::numeric_limits<long long>::max() ? std::numeric_limits<long long>::min()
                                                                      : -(long long)magnitude;
  } else {
    if (magnitude > (unsigned long long)std::numeric_limits<long long>::max()) return false;
    value = (long long)magnitude;
  }
  return true;
}

}  // namespace

bool TextToInt64(const std::string& text, int64_t& value) {
  long long v;
  if (!ParseWhole(text, v)) return false;
  value = v;
  return true;
}

bool TextToInt(const std::string& text, int& value) {
  long long v;
  if (!ParseWhole(text, v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    return false;
  value = int(v);
  return true;
}

bool TextToDouble(const std::string& text, double& value) {
  if (text.empty()) return false;
  // Either decimal point: profiles are written with the user's separator.
  std::string s = text;
  if (s.find('.') == std::string::npos) {
    const size_t comma = s.find(',');
    if (comma != std::string::npos && s.find(',', comma + 1) == std::string::npos) s[comma] = '.';
  }
  const char* begin = s.c_str();
  if (*begin == '+') ++begin;
  double v;
  auto [end, ec] = std::from_chars(begin, s.c_str() + s.size(), v);
  if (ec != std::errc() || *end || !std::isfinite(v)) return false;
  value = v;
  return true;
}

void TOptionDictionary::Set(const std::string& name, const std::string& value) {
  for (auto& e : Entries)
    if (e.first == name) {
      e.second = value;
      return;
    }
  Entries.emplace_back(name, value);
}

const std::string* TOptionDictionary::Get(const std::string& name) const {
  for (const auto& e : Entries)
    if (e.first == name) return &e.second;
  return nullptr;
}

const std::vector<std::string>& EngineFormatOptionNames() {
  static const std::vector<std::string> names = {"input_type", "video_size", "framerate", "pixel_format"};
  return names;
}

}  // namespace qm::engine
