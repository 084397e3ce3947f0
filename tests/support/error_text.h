// Errors about bad input say where the fault is and quote what was found.
// Tests check those two parts, not the wording around them, which a library
// (the JSON parser's syntax errors) or a later edit may change without the
// error getting any less clear.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace orbel_test {

// The error starts with `where` followed by ':' and, after that, holds every
// quoted piece as a whole token (so "found 3" is not matched by "found 31").
inline ::testing::AssertionResult NamesWhereAndQuotes(const std::string& error,
                                                      const std::string& where,
                                                      const std::vector<std::string>& quoted) {
  if (error.compare(0, where.size() + 1, where + ":") != 0)
    return ::testing::AssertionFailure() << "'" << error << "' does not start at '" << where << "'";
  const std::string rest = error.substr(where.size() + 1);
  const auto inWord = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.';
  };
  for (const std::string& piece : quoted) {
    bool found = false;
    for (std::size_t at = rest.find(piece); at != std::string::npos && !found;
         at = rest.find(piece, at + 1)) {
      const std::size_t end = at + piece.size();
      found = (at == 0 || !inWord(rest[at - 1]) || !inWord(piece.front())) &&
              (end == rest.size() || !inWord(rest[end]) || !inWord(piece.back()));
    }
    if (!found)
      return ::testing::AssertionFailure() << "'" << error << "' does not quote '" << piece << "'";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace orbel_test
