#include "fbsdk/fbreferencetime.h"

#include <mutex>
#include <vector>

#include "fbhost/scene.h"
#include "scene_state.h"

namespace {

struct ReferenceTable {
  std::mutex lock;
  std::vector<fbhost::ReferenceTimeRecord> entries;
  std::int64_t refused = 0;
};

ReferenceTable& Table() {
  static ReferenceTable* table = new ReferenceTable;
  return *table;
}

// The entry the number names, if it is still there. Lock held.
fbhost::ReferenceTimeRecord* Live(ReferenceTable& table, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= table.entries.size()) return nullptr;
  auto& entry = table.entries[static_cast<std::size_t>(index)];
  return entry.removed ? nullptr : &entry;
}

}  // namespace

FBClassImplementation(FBReferenceTime);

FBReferenceTime::FBReferenceTime(HIObject object) : FBComponent(object) {}

FBReferenceTime::~FBReferenceTime() = default;

int FBReferenceTime::Add(const char* name) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  fbhost::ReferenceTimeRecord entry;
  entry.index = static_cast<int>(table.entries.size());
  entry.name = name ? name : "";
  table.entries.push_back(entry);
  return entry.index;
}

bool FBReferenceTime::SetTime(int index, FBTime referenceTime, FBTime systemTime) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  auto* entry = Live(table, index);
  if (entry == nullptr) {
    ++table.refused;
    return false;
  }
  ++entry->stampCount;
  entry->lastReferenceTime = referenceTime;
  entry->lastSystemTime = systemTime;
  return true;
}

bool FBReferenceTime::Remove(int index) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  auto* entry = Live(table, index);
  if (entry == nullptr) return false;
  entry->removed = true;
  return true;
}

namespace fbhost {
std::vector<ReferenceTimeRecord> ReferenceTimes() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  return table.entries;
}

std::int64_t RefusedReferenceTimeStamps() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  return table.refused;
}
}  // namespace fbhost

namespace fbhost_internal {
void ResetReferenceTimes() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  table.entries.clear();
  table.refused = 0;
}
}  // namespace fbhost_internal
