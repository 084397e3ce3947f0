// host_text.h: the quoted texts of the host's text files (settings, scenes).
//
// Private to libfbsdk. A quoted text is '"', the bytes, '"'; inside it \" is
// a quote, \\ a backslash, \n \r \t those control characters and \xHH (two
// hex digits) any byte. The writer escapes quotes, backslashes, bytes below
// 0x20 and 0x7F, and keeps every other byte as it is.
#pragma once

#include <cstddef>
#include <string>

namespace fbhost_internal {

std::string QuoteText(const std::string& text);

// Reads the quoted text that starts at text[pos] (which must be '"'). On
// success *end is the index just past the closing quote. Answers false with
// *why when an escape is bad or the closing quote is missing.
bool UnquoteText(const std::string& text, std::size_t pos, std::string* value, std::size_t* end,
                 std::string* why);

// The text as it should appear inside an error message: at most `limit`
// bytes, control bytes shown as \xHH.
std::string Excerpt(const std::string& text, std::size_t limit = 80);

}  // namespace fbhost_internal
