#include "fbsdk/fbconfigfile.h"

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "config_text.h"
#include "fbhost/config.h"
#include "fbhost/messages.h"
#include "host_files.h"

namespace {

// Settings files are small; anything bigger is not one.
constexpr std::size_t kMaxConfigBytes = 1 << 20;
// How many "<file>.corrupt.N" copies we try before giving up on a free name.
constexpr int kMaxCorruptCopies = 100;

using Document = fbhost_internal::ConfigDocument;
using Entry = fbhost_internal::ConfigEntry;
using Problem = fbhost_internal::ConfigProblem;

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
  const Document doc = fbhost_internal::ParseConfigText(contents, &problems);
  if (!problems.empty() && FirstReport(mImpl->path, contents)) {
    fbhost::ReportMessage(fbhost::MessageLevel::Warning,
                          fbhost_internal::DescribeConfigProblems(mImpl->path, problems) +
                              "; those lines are ignored");
  }
  const Entry* e = doc.Find(section, key);
  return e == nullptr ? defaultValue : mImpl->Keep(e->value);
}

bool FBConfigFile::Set(const char* section, const char* key, const char* value,
                       const char* comment) {
  if (!mImpl->valid || mImpl->readOnly || section == nullptr || key == nullptr) return false;
  const std::string sectionName = section, keyName = key, text = value ? value : "";
  if (!fbhost_internal::ValidConfigName(sectionName, false) ||
      !fbhost_internal::ValidConfigName(keyName, true))
    return false;
  if (mImpl->inMemory) {
    auto& memory = Memory();
    std::lock_guard<std::mutex> guard(memory.lock);
    fbhost_internal::SetConfigValue(&memory.documents[mImpl->name], sectionName, keyName, text,
                                    comment);
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
  Document doc = fbhost_internal::ParseConfigText(contents, &problems);
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
                            fbhost_internal::DescribeConfigProblems(path, problems) +
                                "; cannot keep a copy of it (" +
                                (copy.empty() ? std::string("no free .corrupt name") : error) +
                                "), so '" + keyName + "' is not written");
      return false;
    }
    fbhost::ReportMessage(fbhost::MessageLevel::Warning,
                          fbhost_internal::DescribeConfigProblems(path, problems) +
                              "; kept the file as '" + copy + "' and rewrote it with the " +
                              std::to_string(doc.EntryCount()) + " settings it could read");
  }
  fbhost_internal::SetConfigValue(&doc, sectionName, keyName, text, comment);
  if (!fbhost_internal::WriteFileSafely(path, fbhost_internal::WriteConfigText(doc), &error)) {
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
  const Document doc = fbhost_internal::ParseConfigText(contents, &found);
  if (!found.empty() && problems != nullptr)
    *problems = fbhost_internal::DescribeConfigProblems(path, found);
  for (const auto& section : doc.sections) {
    for (const auto& entry : section.entries) {
      settings->push_back(ConfigSetting{section.name, entry.key, entry.value});
    }
  }
  return true;
}

}  // namespace fbhost
