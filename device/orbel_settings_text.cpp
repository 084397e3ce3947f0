#include "orbel_settings_text.h"

#include <climits>
#include <cstdint>

namespace orbel {
namespace settings {

namespace {

bool IsBlank(char c) {
  // The C locale's white space, as atoi skips it.
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int ParseInteger(const char* text) noexcept {
  if (text == nullptr) return 0;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulated as a magnitude one past INT_MAX, so INT_MIN is exact.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
  std::int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) {
      magnitude = limit;
      // The rest of the digits cannot bring it back into range.
      while (p[1] >= '0' && p[1] <= '9') ++p;
    }
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

bool ParseBoolean(const char* text) noexcept { return ParseInteger(text) != 0; }

std::string FormatInteger(int value) { return std::to_string(value); }

const char* FormatBoolean(bool value) noexcept { return value ? "1" : "0"; }

}  // namespace settings
}  // namespace orbel
