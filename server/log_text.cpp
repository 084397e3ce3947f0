#include "log_text.h"

namespace orbel::server {

std::string escapeForLog(std::string_view text, std::size_t maxBytes) {
  const std::string_view shown = text.substr(0, maxBytes);
  std::string out;
  out.reserve(shown.size() + 32);
  for (const char ch : shown) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (byte) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte >= 0x20 && byte < 0x7F) {
          out += ch;
        } else {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        }
    }
  }
  if (shown.size() < text.size()) {
    out += "... (" + std::to_string(text.size()) + " bytes in all)";
  }
  return out;
}

bool LogBurst::note(Clock::time_point now) {
  last_ = now;
  if (!open_) {
    open_ = true;
    reported_ = now;
    unreported_ = 0;
    return true;
  }
  ++unreported_;
  return false;
}

std::size_t LogBurst::due(Clock::time_point now) {
  if (!open_) return 0;
  const bool ended = now - last_ >= quiet_;
  if (ended) open_ = false;
  if (unreported_ == 0 || (!ended && now - reported_ < every_)) return 0;
  const std::size_t count = unreported_;
  unreported_ = 0;
  reported_ = now;
  return count;
}

}  // namespace orbel::server
