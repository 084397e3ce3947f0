// Reading the host program's command lines: words, quotes, variables and
// the small value parsers the commands share. Every failure answers false
// with a message that quotes the bad input.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace orbel::hostapp {

// Splits one command line into words. Blanks (spaces, tabs) separate words;
// "..." groups a word that holds blanks (inside, \" is a quote and \\ a
// backslash); a '#' that starts a word begins a comment that runs to the end
// of the line. An empty or comment-only line gives no words.
// Fails on an unterminated quote, or a quote glued to other text.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);

// Splits "a; b; c" (the -c option) at the ';' that lie outside quotes; the
// pieces keep their quotes for SplitWords.
std::vector<std::string> SplitCommands(const std::string& text);

// Replaces every ${NAME} in the text with its value. Fails, quoting the
// name, for a name that has no value or a "${" without its "}".
bool ExpandVariables(const std::string& text, const std::map<std::string, std::string>& variables,
                     std::string* out, std::string* error);

// "on"/"off", also "yes"/"no", "true"/"false", "1"/"0", in any letter case.
bool ParseOnOff(const std::string& text, bool* value, std::string* error);

// A whole decimal number in [minimum, maximum].
bool ParseInteger(const std::string& text, long long minimum, long long maximum, long long* value,
                  std::string* error);

// A duration in seconds: a finite decimal number from 0 to one day
// ("5", "0.25", "1e1").
bool ParseSeconds(const std::string& text, double* seconds, std::string* error);

// The text quoted for a message: 'text', with EscapeBytes.
std::string Quote(const std::string& text);

// The text with control characters and bytes that are not UTF-8 shown as
// \xHH, so that a damaged file's bytes can be printed and put into JSON.
std::string EscapeBytes(const std::string& text);

// "1 device", "2 devices".
std::string Counted(std::size_t count, const std::string& noun);

}  // namespace orbel::hostapp
