#include "command_words.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orbel::hostapp {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// The length of the well-formed UTF-8 sequence at text[i], 0 when there is
// none (a stray or overlong byte, a surrogate, a cut-off sequence).
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = i + 2; k < i + length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string EscapeBytes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : Utf8Length(text, i);
    if (c < 0x20 || c == 0x7F || length == 0) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::string Quote(const std::string& text) { return "'" + EscapeBytes(text) + "'"; }

std::string Counted(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    if (line[i] == '#') break;
    std::string word;
    if (line[i] == '"') {
      const std::size_t start = i++;
      bool closed = false;
      while (i < n) {
        const char c = line[i];
        if (c == '\\' && i + 1 < n && (line[i + 1] == '"' || line[i + 1] == '\\')) {
          word += line[i + 1];
          i += 2;
        } else if (c == '"') {
          closed = true;
          ++i;
          break;
        } else {
          word += c;
          ++i;
        }
      }
      if (!closed) {
        SetError(error, "the quote that starts " + Quote(line.substr(start)) + " is not closed");
        return false;
      }
      if (i < n && !IsBlank(line[i])) {
        SetError(error, "a quoted word must be followed by a blank, not " +
                            Quote(line.substr(start, i - start + 1)));
        return false;
      }
    } else {
      const std::size_t start = i;
      while (i < n && !IsBlank(line[i])) {
        if (line[i] == '"') {
          SetError(error, "a quote inside the word " + Quote(line.substr(start, i - start + 1)) +
                              "; put the whole word in quotes");
          return false;
        }
        word += line[i++];
      }
    }
    words->push_back(std::move(word));
  }
  return true;
}

std::vector<std::string> SplitCommands(const std::string& text) {
  std::vector<std::string> commands;
  std::string current;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '\\' && i + 1 < text.size()) {
      current += c;
      current += text[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      commands.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  commands.push_back(current);
  return commands;
}

bool ExpandVariables(const std::string& text, const std::map<std::string, std::string>& variables,
                     std::string* out, std::string* error) {
  std::string result;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = text.find("${", i);
    if (start == std::string::npos) {
      result += text.substr(i);
      break;
    }
    result += text.substr(i, start - i);
    const std::size_t end = text.find('}', start + 2);
    if (end == std::string::npos) {
      // Usually "${ NAME }": the blanks split it into words.
      SetError(error, "the variable in " + Quote(text.substr(start)) +
                          " has no closing '}' (write ${NAME}: a name has no blanks)");
      return false;
    }
    const std::string name = text.substr(start + 2, end - start - 2);
    const auto found = variables.find(name);
    if (found == variables.end()) {
      SetError(error, "variable " + Quote(name) + " has no value (give it one with --set " + name +
                          "=VALUE)");
      return false;
    }
    result += found->second;
    i = end + 1;
  }
  *out = std::move(result);
  return true;
}

bool ParseOnOff(const std::string& text, bool* value, std::string* error) {
  for (const char* on : {"on", "yes", "true", "1"}) {
    if (strcasecmp(text.c_str(), on) == 0) {
      *value = true;
      return true;
    }
  }
  for (const char* off : {"off", "no", "false", "0"}) {
    if (strcasecmp(text.c_str(), off) == 0) {
      *value = false;
      return true;
    }
  }
  SetError(error, Quote(text) +
                      " is neither on nor off (on, yes, true, 1 or off, no, false, 0, in any "
                      "letter case)");
  return false;
}

bool ParseInteger(const std::string& text, long long minimum, long long maximum, long long* value,
                  std::string* error) {
  const std::string range = " (" + std::to_string(minimum) + " to " + std::to_string(maximum) + ")";
  std::size_t digits = text.size();
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) --digits;
  if (digits == 0 ||
      text.find_first_not_of("0123456789", text.size() - digits) != std::string::npos) {
    SetError(error, Quote(text) + " is not a whole number" + range);
    return false;
  }
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || parsed < minimum || parsed > maximum) {
    SetError(error, Quote(text) + " is out of range" + range);
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseSeconds(const std::string& text, double* seconds, std::string* error) {
  constexpr double kOneDay = 86400.0;
  if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos) {
    SetError(error, Quote(text) + " is not a number of seconds");
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(parsed)) {
    SetError(error, Quote(text) + " is not a number of seconds");
    return false;
  }
  if (parsed < 0.0 || parsed > kOneDay) {
    SetError(error, Quote(text) + " seconds is out of range (0 to 86400)");
    return false;
  }
  *seconds = parsed;
  return true;
}

}  // namespace orbel::hostapp
