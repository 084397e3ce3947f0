// config_text.h: the settings file's text form: "[Section]" lines, then
// Key = "value" lines (quoted as in host_text.h), with ';' or '#' comment
// lines kept in place. A damaged line is reported and skipped, never fatal,
// so that one bad line does not cost the user every other setting.
//
// Private to libfbsdk. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fbhost_internal {

struct ConfigEntry {
  std::string key;
  std::string value;
  std::vector<std::string> comments;  // whole lines, as written
};

struct ConfigSection {
  std::string name;
  std::vector<std::string> comments;
  std::vector<ConfigEntry> entries;
};

struct ConfigProblem {
  int line = 0;
  std::string text;  // the line as found
  std::string why;
};

struct ConfigDocument {
  std::vector<ConfigSection> sections;
  std::vector<std::string> trailingComments;

  ConfigSection* FindSection(const std::string& name) {
    for (auto& s : sections) {
      if (s.name == name) return &s;
    }
    return nullptr;
  }
  const ConfigEntry* Find(const std::string& section, const std::string& key) const {
    for (const auto& s : sections) {
      if (s.name != section) continue;
      for (const auto& e : s.entries) {
        if (e.key == key) return &e;
      }
    }
    return nullptr;
  }
  std::size_t EntryCount() const {
    std::size_t n = 0;
    for (const auto& s : sections) n += s.entries.size();
    return n;
  }
};

// Reads a whole settings file. Lines that cannot be read are left out of the
// document and listed in *problems with their line number and text.
ConfigDocument ParseConfigText(const std::string& contents, std::vector<ConfigProblem>* problems);

// The text of a document; it reads back to the same sections, keys and
// values, with no problems.
std::string WriteConfigText(const ConfigDocument& doc);

// Sets key in section (both made when missing), replacing the key's comment
// lines when comment is not null. A new document gets the file's header.
void SetConfigValue(ConfigDocument* doc, const std::string& section, const std::string& key,
                    const std::string& value, const char* comment);

// Whether a section name or key can be written so that it reads back.
bool ValidConfigName(const std::string& name, bool isKey);

// "settings file '<path>': line N '<text>': why; ..." (the first five).
std::string DescribeConfigProblems(const std::string& path,
                                   const std::vector<ConfigProblem>& problems);

}  // namespace fbhost_internal
