#include "fbsdk/fbconfigfile.h"

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "fbhost/config.h"
#include "fbhost/messages.h"
#include "host_files.h"
#include "host_text.h"

namespace {

// Settings files are small; anything bigger is not one.
constexpr std::size_t kMaxConfigBytes = 1 << 20;
// How many "<file>.corrupt.N" copies we try before giving up on a free name.
constexpr int kMaxCorruptCopies = 100;

struct Entry {
  std::string key;
  std::string value;
  std::vector<std::string> comments;  // whole lines, as written
};

struct Section {
  std::string name;
  std::vector<std::string> comments;
  std::vector<Entry> entries;
};

struct Problem {
  int line = 0;
  std::string text;  // the line as found
  std::string why;
};

struct Document {
  std::vector<Section> sections;
  std::vector<std::string> trailingComments;

  Section* FindSection(const std::string& name) {
    for (auto& s : sections) {
      if (s.name == name) return &s;
    }
    return nullptr;
  }
  const Entry* Find(const std::string& section, const std::string& key) const {
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
  if (!fbhost_internal::UnquoteText(text, pos, value, &end, why)) return false;
  for (std::size_t j = end; j < text.size(); ++j) {
    if (!IsBlank(text[j])) {
      *why = "text after the closing quote";
      return false;
    }
  }
  return true;
}

void AddEntry(Section* section, Entry entry) {
  for (auto& e : section->entries) {
    if (e.key == entry.key) {  // the last one counts; keep the first place
      e.value = std::move(entry.value);
      e.comments.insert(e.comments.end(), entry.comments.begin(), entry.comments.end());
      return;
    }
  }
  section->entries.push_back(std::move(entry));
}

Document Parse(const std::string& contents, std::vector<Problem>* problems) {
  Document doc;
  Section* current = nullptr;
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
        doc.sections.push_back(Section{name, {}, {}});
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
    Entry entry;
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

const char* const kHeader[] = {
    "; Orbel host settings. A \"[Section]\" line opens a section; each line below it",
    "; is Key = \"value\", the value being exactly the text between the quotes",
    "; (\\\" is a quote, \\\\ a backslash, \\xHH any byte).",
};

std::string Serialize(const Document& doc) {
  std::string out;
  for (const auto& section : doc.sections) {
    if (!out.empty()) out += "\n";
    for (const auto& c : section.comments) out += c + "\n";
    out += "[" + section.name + "]\n";
    for (const auto& e : section.entries) {
      for (const auto& c : e.comments) out += c + "\n";
      out += e.key + " = " + fbhost_internal::QuoteText(e.value) + "\n";
    }
  }
  for (const auto& c : doc.trailingComments) out += c + "\n";
  return out;
}

void SetIn(Document* doc, const std::string& section, const std::string& key,
           const std::string& value, const char* comment) {
  if (doc->sections.empty() && doc->trailingComments.empty()) {
    doc->sections.push_back(Section{section, {std::begin(kHeader), std::end(kHeader)}, {}});
  }
  Section* s = doc->FindSection(section);
  if (s == nullptr) {
    doc->sections.push_back(Section{section, {}, {}});
    s = &doc->sections.back();
  }
  Entry* entry = nullptr;
  for (auto& e : s->entries) {
    if (e.key == key) entry = &e;
  }
  if (entry == nullptr) {
    s->entries.push_back(Entry{key, {}, {}});
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

bool ValidName(const std::string& name, bool isKey) {
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

std::string DescribeProblems(const std::string& path, const std::vector<Problem>& problems) {
  std::string text = "settings file '" + path + "': ";
  const std::size_t shown = std::min<std::size_t>(problems.size(), 5);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) text += "; ";
    text += "line " + std::to_string(problems[i].line) + " '" +
            fbhost_internal::Excerpt(problems[i].text) + "': " + problems[i].why;
  }
  if (problems.size() > shown) {
    text += "; and " + std::to_string(problems.size() - shown) + " more bad lines";
  }
  return text;
}

// In-memory settings, shared by name across the process.
struct MemoryStore {
  std::mutex lock;
  std::map<std::string, Document> documents;
};
MemoryStore& Memory() {
  static MemoryStore* store = new MemoryStore;
  return *store;
}

// Bad files are reported once per path and content, not at every Get.
bool FirstReport(const std::string& path, const std::string& contents) {
  static std::mutex* lock = new std::mutex;
  static auto* reported = new std::map<std::string, std::size_t>;
  const std::size_t hash = std::hash<std::string>()(contents);
  std::lock_guard<std::mutex> guard(*lock);
  auto it = reported->find(path);
  if (it != reported->end() && it->second == hash) return false;
  (*reported)[path] = hash;
  return true;
}

}  // namespace

struct FBConfigFile::Impl {
  std::string name;
  std::string path;  // empty: in memory, or an invalid name
  bool valid = false;
  bool inMemory = false;
  bool readOnly = false;
  std::mutex answersLock;
  std::set<std::string> answers;  // keeps every answered text alive

  const char* Keep(const std::string& text) {
    std::lock_guard<std::mutex> guard(answersLock);
    return answers.insert(text).first->c_str();
  }
};

FBConfigFile::FBConfigFile(const char* name, bool inMemory, bool readOnly)
    : mImpl(std::make_unique<Impl>()) {
  mImpl->name = name ? name : "";
  mImpl->inMemory = inMemory;
  mImpl->readOnly = readOnly;
  if (inMemory) {
    mImpl->valid = !mImpl->name.empty();
    if (!mImpl->valid) {
      fbhost::ReportMessage(fbhost::MessageLevel::Error, "a configuration file needs a name");
    }
    return;
  }
  std::string error;
  mImpl->valid = fbhost::ResolveConfigName(mImpl->name, &mImpl->path, &error);
  if (!mImpl->valid) {
    mImpl->path.clear();
    fbhost::ReportMessage(fbhost::MessageLevel::Error, error);
  }
}

FBConfigFile::~FBConfigFile() = default;

const char* FBConfigFile::GetPath() const { return mImpl->path.c_str(); }

const char* FBConfigFile::Get(const char* section, const char* key, const char* defaultValue) {
  if (!mImpl->valid || section == nullptr || key == nullptr) return defaultValue;
  if (mImpl->inMemory) {
    auto& memory = Memory();
    std::string value;
    {
      std::lock_guard<std::mutex> guard(memory.lock);
      auto it = memory.documents.find(mImpl->name);
      if (it == memory.documents.end()) return defaultValue;
      const Entry* e = it->second.Find(section, key);
      if (e == nullptr) return defaultValue;
      value = e->value;
    }
    return mImpl->Keep(value);
  }
  std::string contents, error;
  const auto status =
      fbhost_internal::ReadWholeFile(mImpl->path, kMaxConfigBytes, &contents, &error);
  switch (status) {
    case fbhost_internal::ReadStatus::Missing:
      return defaultValue;
    case fbhost_internal::ReadStatus::TooLarge:
    case fbhost_internal::ReadStatus::Failed:
      if (FirstReport(mImpl->path, error)) {
        fbhost::ReportMessage(fbhost::MessageLevel::Warning,
                              "settings file: " + error + "; using the defaults");
      }
      return defaultValue;
    case fbhost_internal::ReadStatus::Ok:
      break;
  }
  std::vector<Problem> problems;
  const Document doc = Parse(contents, &problems);
  if (!problems.empty() && FirstReport(mImpl->path, contents)) {
    fbhost::ReportMessage(fbhost::MessageLevel::Warning,
                          DescribeProblems(mImpl->path, problems) + "; those lines are ignored");
  }
  const Entry* e = doc.Find(section, key);
  return e == nullptr ? defaultValue : mImpl->Keep(e->value);
}

bool FBConfigFile::Set(const char* section, const char* key, const char* value,
                       const char* comment) {
  if (!mImpl->valid || mImpl->readOnly || section == nullptr || key == nullptr) return false;
  const std::string sectionName = section, keyName = key, text = value ? value : "";
  if (!ValidName(sectionName, false) || !ValidName(keyName, true)) return false;
  if (mImpl->inMemory) {
    auto& memory = Memory();
    std::lock_guard<std::mutex> guard(memory.lock);
    SetIn(&memory.documents[mImpl->name], sectionName, keyName, text, comment);
    return true;
  }
  const std::string& path = mImpl->path;
  std::lock_guard<std::mutex> inProcess(fbhost_internal::PathLock(path));
  fbhost_internal::FileLock acrossProcesses(path);
  std::string contents, error;
  const auto status = fbhost_internal::ReadWholeFile(path, kMaxConfigBytes, &contents, &error);
  if (status == fbhost_internal::ReadStatus::Failed ||
      status == fbhost_internal::ReadStatus::TooLarge) {
    fbhost::ReportMessage(
        fbhost::MessageLevel::Error,
        "settings file: " + error + "; not writing '" + keyName + "' over what could not be read");
    return false;
  }
  std::vector<Problem> problems;
  Document doc = Parse(contents, &problems);
  // Devices write back every option they load; a value already there needs
  // no new file (and no flush).
  if (problems.empty() && comment == nullptr) {
    const Entry* existing = doc.Find(sectionName, keyName);
    if (existing != nullptr && existing->value == text) return true;
  }
  if (!problems.empty()) {
    // Keep the damaged file before replacing it with what we understood.
    std::string copy;
    for (int n = 0; n < kMaxCorruptCopies && copy.empty(); ++n) {
      const std::string candidate = path + ".corrupt" + (n == 0 ? "" : "." + std::to_string(n));
      if (!fbhost_internal::PathExists(candidate)) copy = candidate;
    }
    if (copy.empty() || !fbhost_internal::WriteFileSafely(copy, contents, &error)) {
      fbhost::ReportMessage(fbhost::MessageLevel::Error,
                            DescribeProblems(path, problems) + "; cannot keep a copy of it (" +
                                (copy.empty() ? std::string("no free .corrupt name") : error) +
                                "), so '" + keyName + "' is not written");
      return false;
    }
    fbhost::ReportMessage(fbhost::MessageLevel::Warning,
                          DescribeProblems(path, problems) + "; kept the file as '" + copy +
                              "' and rewrote it with the " + std::to_string(doc.EntryCount()) +
                              " settings it could read");
  }
  SetIn(&doc, sectionName, keyName, text, comment);
  if (!fbhost_internal::WriteFileSafely(path, Serialize(doc), &error)) {
    fbhost::ReportMessage(fbhost::MessageLevel::Error,
                          "settings file: " + error + "; '" + keyName + "' is not saved");
    return false;
  }
  return true;
}

namespace fbhost {

bool ReadConfigSettings(const std::string& name, std::vector<ConfigSetting>* settings,
                        std::string* error, std::string* problems) {
  if (settings == nullptr) return false;
  settings->clear();
  if (problems != nullptr) problems->clear();
  std::string path, why;
  if (!ResolveConfigName(name, &path, &why)) {
    if (error != nullptr) *error = why;
    return false;
  }
  std::string contents;
  const auto status = fbhost_internal::ReadWholeFile(path, kMaxConfigBytes, &contents, &why);
  switch (status) {
    case fbhost_internal::ReadStatus::Missing:
      return true;
    case fbhost_internal::ReadStatus::TooLarge:
    case fbhost_internal::ReadStatus::Failed:
      if (error != nullptr) *error = "settings file: " + why;
      return false;
    case fbhost_internal::ReadStatus::Ok:
      break;
  }
  std::vector<Problem> found;
  const Document doc = Parse(contents, &found);
  if (!found.empty() && problems != nullptr) *problems = DescribeProblems(path, found);
  for (const auto& section : doc.sections) {
    for (const auto& entry : section.entries) {
      settings->push_back(ConfigSetting{section.name, entry.key, entry.value});
    }
  }
  return true;
}

}  // namespace fbhost
