#include "config_text.h"

#include <algorithm>
#include <iterator>

#include "host_text.h"

namespace fbhost_internal {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A quoted value starting at text[pos] == '"', with nothing but blanks
// after its closing quote.
bool ParseQuoted(const std::string& text, std::size_t pos, std::string* value, std::string* why) {
  std::size_t end = 0;
  if (!UnquoteText(text, pos, value, &end, why)) return false;
  for (std::size_t j = end; j < text.size(); ++j) {
    if (!IsBlank(text[j])) {
      *why = "text after the closing quote";
      return false;
    }
  }
  return true;
}

void AddEntry(ConfigSection* section, ConfigEntry entry) {
  for (auto& e : section->entries) {
    if (e.key == entry.key) {  // the last one counts; keep the first place
      e.value = std::move(entry.value);
      e.comments.insert(e.comments.end(), entry.comments.begin(), entry.comments.end());
      return;
    }
  }
  section->entries.push_back(std::move(entry));
}

const char* const kHeader[] = {
    "; Orbel host settings. A \"[Section]\" line opens a section; each line below it",
    "; is Key = \"value\", the value being exactly the text between the quotes",
    "; (\\\" is a quote, \\\\ a backslash, \\xHH any byte).",
};

// A kept comment line. Carriage returns at its end would be read back as
// part of the line end, one fewer at every write, so none are written.
void AppendComment(std::string* out, const std::string& line) {
  std::size_t end = line.size();
  while (end > 0 && line[end - 1] == '\r') --end;
  out->append(line, 0, end);
  *out += '\n';
}

}  // namespace

ConfigDocument ParseConfigText(const std::string& contents, std::vector<ConfigProblem>* problems) {
  ConfigDocument doc;
  ConfigSection* current = nullptr;
  std::vector<std::string> pendingComments;
  std::size_t start = 0;
  int lineNumber = 0;
  while (start < contents.size()) {
    std::size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto bad = [&](const std::string& why) { problems->push_back({lineNumber, line, why}); };
    if (line.find('\0') != std::string::npos) {
      bad("a NUL byte");
      continue;
    }
    const std::string trimmed = Trim(line);
    if (trimmed.empty()) continue;
    if (trimmed[0] == ';' || trimmed[0] == '#') {
      pendingComments.push_back(line);
      continue;
    }
    if (trimmed[0] == '[') {
      if (trimmed.back() != ']') {
        bad("a section line must end with ']'");
        continue;
      }
      const std::string name = Trim(trimmed.substr(1, trimmed.size() - 2));
      if (name.empty() || name.find_first_of("[]") != std::string::npos) {
        bad("not a valid section name");
        continue;
      }
      current = doc.FindSection(name);
      if (current == nullptr) {
        doc.sections.push_back(ConfigSection{name, {}, {}});
        current = &doc.sections.back();
      }
      current->comments.insert(current->comments.end(), pendingComments.begin(),
                               pendingComments.end());
      pendingComments.clear();
      continue;
    }
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos) {
      bad("neither a section, a setting nor a comment");
      continue;
    }
    ConfigEntry entry;
    entry.key = Trim(trimmed.substr(0, equals));
    if (entry.key.empty()) {
      bad("a setting without a key");
      continue;
    }
    if (current == nullptr) {
      bad("a setting before any section");
      continue;
    }
    std::size_t pos = equals + 1;
    while (pos < trimmed.size() && IsBlank(trimmed[pos])) ++pos;
    if (pos < trimmed.size() && trimmed[pos] == '"') {
      std::string why;
      if (!ParseQuoted(trimmed, pos, &entry.value, &why)) {
        bad(why);
        continue;
      }
    } else {
      entry.value = trimmed.substr(pos);
    }
    entry.comments = std::move(pendingComments);
    pendingComments.clear();
    AddEntry(current, std::move(entry));
  }
  doc.trailingComments = std::move(pendingComments);
  return doc;
}

std::string WriteConfigText(const ConfigDocument& doc) {
  std::string out;
  for (const auto& section : doc.sections) {
    if (!out.empty()) out += "\n";
    for (const auto& c : section.comments) AppendComment(&out, c);
    out += "[" + section.name + "]\n";
    for (const auto& e : section.entries) {
      for (const auto& c : e.comments) AppendComment(&out, c);
      out += e.key + " = " + QuoteText(e.value) + "\n";
    }
  }
  for (const auto& c : doc.trailingComments) AppendComment(&out, c);
  return out;
}

void SetConfigValue(ConfigDocument* doc, const std::string& section, const std::string& key,
                    const std::string& value, const char* comment) {
  if (doc->sections.empty() && doc->trailingComments.empty()) {
    doc->sections.push_back(ConfigSection{section, {std::begin(kHeader), std::end(kHeader)}, {}});
  }
  ConfigSection* s = doc->FindSection(section);
  if (s == nullptr) {
    doc->sections.push_back(ConfigSection{section, {}, {}});
    s = &doc->sections.back();
  }
  ConfigEntry* entry = nullptr;
  for (auto& e : s->entries) {
    if (e.key == key) entry = &e;
  }
  if (entry == nullptr) {
    s->entries.push_back(ConfigEntry{key, {}, {}});
    entry = &s->entries.back();
  }
  entry->value = value;
  if (comment != nullptr) {
    entry->comments.clear();
    const std::string text = comment;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find('\n', start);
      std::string line = text.substr(start, end == std::string::npos ? end : end - start);
      for (auto& c : line) {
        if (IsControl(static_cast<unsigned char>(c))) c = ' ';
      }
      entry->comments.push_back("; " + line);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
}

bool ValidConfigName(const std::string& name, bool isKey) {
  if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) return false;
  for (const char c : name) {
    if (IsControl(static_cast<unsigned char>(c))) return false;
  }
  if (isKey) {
    return name.find('=') == std::string::npos && name[0] != '[' && name[0] != ';' &&
           name[0] != '#';
  }
  return name.find_first_of("[]") == std::string::npos;
}

std::string DescribeConfigProblems(const std::string& path,
                                   const std::vector<ConfigProblem>& problems) {
  std::string text = "settings file '" + path + "': ";
  const std::size_t shown = std::min<std::size_t>(problems.size(), 5);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) text += "; ";
    text += "line " + std::to_string(problems[i].line) + " '" + Excerpt(problems[i].text) +
            "': " + problems[i].why;
  }
  if (problems.size() > shown) {
    text += "; and " + std::to_string(problems.size() - shown) + " more bad lines";
  }
  return text;
}

}  // namespace fbhost_internal
