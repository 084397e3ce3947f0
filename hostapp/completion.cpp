#include "completion.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace orbel::hostapp {

namespace {

// A huge folder must not stall the prompt.
constexpr std::size_t kMaxFileMatches = 2000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The line up to the cursor, split leniently: the last word may still lack
// its closing quote.
struct Scanned {
  std::vector<std::string> words;  // complete words before the one being typed
  std::string partial;             // the word being typed, unquoted
  std::size_t start = 0;
  bool quoted = false;
  bool comment = false;
};

Scanned Scan(const std::string& left) {
  Scanned s;
  std::size_t i = 0;
  const std::size_t n = left.size();
  for (;;) {
    while (i < n && IsBlank(left[i])) ++i;
    s.start = i;
    s.partial.clear();
    s.quoted = false;
    if (i >= n) return s;
    if (left[i] == '#') {
      s.comment = true;
      return s;
    }
    std::string word;
    if (left[i] == '"') {
      s.quoted = true;
      ++i;
      while (i < n && left[i] != '"') {
        if (left[i] == '\\' && i + 1 < n && (left[i + 1] == '"' || left[i + 1] == '\\')) ++i;
        word += left[i++];
      }
      if (i < n) ++i;  // the closing quote
    } else {
      while (i < n && !IsBlank(left[i])) word += left[i++];
    }
    if (i >= n) {
      s.partial = std::move(word);
      return s;
    }
    s.words.push_back(std::move(word));
  }
}

// "DEVICE", "FILE.png", "TEXT..." are placeholders; "on", "Y-Up" are words.
std::string PlaceholderOf(const std::string& token) {
  std::string head = token.substr(0, token.find('.'));
  if (head.empty()) return std::string();
  for (char c : head) {
    if (c < 'A' || c > 'Z') return std::string();
  }
  return head;
}

struct Grammar {
  std::vector<std::vector<std::string>> positional;  // alternatives per word
  std::map<std::string, std::string> options;        // "--out" -> "FILE" ("" for a flag)
};

Grammar Parse(const std::string& form) {
  std::vector<std::string> tokens;
  std::string token;
  for (char c : form + " ") {
    if (c == '[' || c == ']') continue;
    if (c != ' ') {
      token += c;
    } else if (!token.empty()) {
      tokens.push_back(token);
      token.clear();
    }
  }
  Grammar g;
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    if (tokens[i].compare(0, 2, "--") == 0) {
      const bool hasValue = i + 1 < tokens.size() && !PlaceholderOf(tokens[i + 1]).empty();
      g.options[tokens[i]] = hasValue ? tokens[i + 1] : std::string();
      if (hasValue) ++i;
      continue;
    }
    std::vector<std::string> alternatives;
    std::size_t from = 0;
    for (;;) {
      const std::size_t bar = tokens[i].find('|', from);
      alternatives.push_back(tokens[i].substr(from, bar - from));
      if (bar == std::string::npos) break;
      from = bar + 1;
    }
    g.positional.push_back(std::move(alternatives));
  }
  return g;
}

bool Fits(const std::string& word, const std::vector<std::string>& alternatives) {
  for (const auto& a : alternatives) {
    if (!PlaceholderOf(a).empty() || strcasecmp(a.c_str(), word.c_str()) == 0) return true;
  }
  return false;
}

bool StartsWith(const std::string& text, const std::string& prefix, bool anyCase) {
  if (text.size() < prefix.size()) return false;
  return anyCase ? strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0
                 : text.compare(0, prefix.size(), prefix) == 0;
}

void AddFiles(const std::string& partial, bool foldersOnly, std::vector<std::string>* out) {
  const std::size_t slash = partial.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : partial.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? partial : partial.substr(slash + 1);
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  std::size_t found = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || (name[0] == '.' && base.empty())) continue;
    if (!StartsWith(name, base, false)) continue;
    struct stat info {};
    const bool isFolder = stat((folder + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (foldersOnly && !isFolder) continue;
    out->push_back(folder + name + (isFolder ? "/" : ""));
    if (++found >= kMaxFileMatches) break;
  }
  closedir(dir);
}

// Candidates for one word of a form.
void AddCandidates(const std::vector<std::string>& alternatives, const std::string& partial,
                   const NameLookup& names, std::vector<std::string>* out) {
  for (const auto& a : alternatives) {
    const std::string placeholder = PlaceholderOf(a);
    if (placeholder == "FILE" || placeholder == "FOLDER") {
      AddFiles(partial, placeholder == "FOLDER", out);
    } else if (!placeholder.empty()) {
      for (auto& name : names(placeholder)) {
        if (StartsWith(name, partial, true)) out->push_back(std::move(name));
      }
    } else if (StartsWith(a, partial, true)) {
      out->push_back(a);
    }
  }
}

// The candidates one form offers after the typed words; false when the
// words do not fit the form.
bool FormCandidates(const Grammar& g, const Scanned& s, const NameLookup& names,
                    std::vector<std::string>* out) {
  std::size_t position = 0;
  for (std::size_t i = 1; i < s.words.size(); ++i) {
    const auto option = g.options.find(s.words[i]);
    if (option != g.options.end()) {
      if (option->second.empty()) continue;
      if (i + 1 == s.words.size()) {  // the word being typed is this option's value
        AddCandidates({option->second}, s.partial, names, out);
        return true;
      }
      ++i;
      continue;
    }
    if (position >= g.positional.size() || !Fits(s.words[i], g.positional[position])) {
      return false;
    }
    ++position;
  }
  if (s.partial.compare(0, 1, "-") == 0) {
    for (const auto& [option, value] : g.options) {
      const bool used = std::find(s.words.begin(), s.words.end(), option) != s.words.end();
      if (!used && StartsWith(option, s.partial, false)) out->push_back(option);
    }
  }
  if (position < g.positional.size()) AddCandidates(g.positional[position], s.partial, names, out);
  return true;
}

bool NeedsQuotes(const std::string& word) {
  return word.empty() || word[0] == '#' || word.find_first_of(" \t\"\\") != std::string::npos;
}

std::string Quoted(const std::string& word, bool close) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return close ? out + "\"" : out;
}

}  // namespace

Completion CompleteLine(const std::string& left, const std::vector<CommandForms>& commands,
                        const NameLookup& names) {
  const Scanned s = Scan(left);
  Completion result;
  result.start = s.start;
  result.replacement = left.substr(s.start);
  if (s.comment) return result;
  std::vector<std::string> matches;
  if (s.words.empty()) {
    for (const auto& command : commands) {
      if (StartsWith(command.name, s.partial, false)) matches.push_back(command.name);
    }
  } else {
    for (const auto& command : commands) {
      if (command.name != s.words[0]) continue;
      for (const auto& form : command.forms) FormCandidates(Parse(form), s, names, &matches);
    }
  }
  std::sort(matches.begin(), matches.end());
  matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
  result.matches = matches;
  if (matches.empty()) return result;

  const bool quote = s.quoted || std::any_of(matches.begin(), matches.end(), NeedsQuotes);
  if (matches.size() == 1) {
    const std::string& only = matches.front();
    const bool folder = only.back() == '/';
    result.replacement = (quote ? Quoted(only, !folder) : only) + (folder ? "" : " ");
    return result;
  }
  std::string shared = matches.front();
  for (const auto& m : matches) {
    std::size_t n = 0;
    while (n < shared.size() && n < m.size() && shared[n] == m[n]) ++n;
    shared.resize(n);
  }
  // Nothing shared beyond what was typed (or matches that differ from it only
  // in letter case): keep what the user wrote, so the matches get listed.
  if (shared.size() > s.partial.size()) result.replacement = quote ? Quoted(shared, false) : shared;
  return result;
}

}  // namespace orbel::hostapp
