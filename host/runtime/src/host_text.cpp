#include "host_text.h"

#include <cstdio>

namespace fbhost_internal {
namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendHex(std::string* out, unsigned char c) {
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02X", c);
  *out += escape;
}

}  // namespace

std::string QuoteText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (IsControl(u)) {
      AppendHex(&out, u);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

bool UnquoteText(const std::string& text, std::size_t pos, std::string* value, std::size_t* end,
                 std::string* why) {
  value->clear();
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      *end = i + 1;
      return true;
    }
    if (c != '\\') {
      value->push_back(c);
      continue;
    }
    if (++i >= text.size()) break;
    switch (text[i]) {
      case '"':
      case '\\':
        value->push_back(text[i]);
        break;
      case 'n':
        value->push_back('\n');
        break;
      case 'r':
        value->push_back('\r');
        break;
      case 't':
        value->push_back('\t');
        break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
          *why = "\\x is not followed by two hex digits";
          return false;
        }
        value->push_back(static_cast<char>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        *why = std::string("unknown escape \\") + text[i];
        return false;
    }
  }
  *why = "the closing quote is missing";
  return false;
}

std::string Excerpt(const std::string& text, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (IsControl(u)) {
      AppendHex(&out, u);
    } else {
      out.push_back(text[i]);
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}

}  // namespace fbhost_internal
