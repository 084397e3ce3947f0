#include "fbsdk/fblibrary.h"

#include <algorithm>
#include <mutex>

#include "host_state.h"

namespace fbhost_internal {
LibraryTable& Libraries() {
  static LibraryTable* table = new LibraryTable;
  return *table;
}
}  // namespace fbhost_internal

using fbhost_internal::Libraries;

FBLibraryBase::FBLibraryBase() {
  auto& table = Libraries();
  std::lock_guard<std::mutex> lock(table.lock);
  table.libraries.push_back(this);
}

FBLibraryBase::~FBLibraryBase() {
  auto& table = Libraries();
  std::lock_guard<std::mutex> lock(table.lock);
  auto& v = table.libraries;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void* FBLibraryBase::IQuery(const char* /*interfaceName*/) { return nullptr; }
void FBLibraryBase::Destroy() {}
bool FBLibraryBase::LibInit() { return true; }
bool FBLibraryBase::LibOpen() { return true; }
bool FBLibraryBase::LibReady() { return true; }
bool FBLibraryBase::LibClose() { return true; }
bool FBLibraryBase::LibRelease() { return true; }

FBLibrary::~FBLibrary() = default;
bool FBLibrary::LibInit() { return true; }
bool FBLibrary::LibOpen() { return true; }
bool FBLibrary::LibReady() { return true; }
bool FBLibrary::LibClose() { return true; }
bool FBLibrary::LibRelease() { return true; }
