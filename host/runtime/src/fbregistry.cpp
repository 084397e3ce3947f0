#include "fbsdk/fbregistry.h"

#include <mutex>

#include "fbhost/registry.h"
#include "fbsdk/fbcomponent.h"
#include "host_state.h"

namespace {

struct RegistryTable {
  std::mutex lock;
  std::vector<fbhost::Registration> entries;  // call order
};

RegistryTable& Table() {
  static RegistryTable* table = new RegistryTable;
  return *table;
}

bool Empty(const char* text) { return text == nullptr || *text == '\0'; }

}  // namespace

bool FBObject_Register(const char* group, const char* entry, const char* description,
                       kFBObjectCreatorFnc factory, bool flag, const char* icon) {
  if (Empty(group) || Empty(entry) || factory == nullptr) return false;
  fbhost::Registration r;
  r.group = group;
  r.entry = entry;
  r.description = description ? description : "";
  r.icon = icon ? icon : "";
  r.flag = flag;
  r.factory = factory;
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  bool repeated = false;
  for (const auto& e : table.entries) {
    if (e.group == r.group && e.entry == r.entry) {
      repeated = true;
      break;
    }
  }
  table.entries.push_back(std::move(r));
  return !repeated;
}

FBComponent* FBGetFBObject(HIObject object, bool /*autoCreate*/) {
  if (object == nullptr) return nullptr;
  auto* component = static_cast<FBComponent*>(object);
  auto& table = fbhost_internal::Components();
  std::lock_guard<std::mutex> lock(table.lock);
  return table.live.count(component) != 0 ? component : nullptr;
}

namespace fbhost {

std::vector<Registration> Registrations() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  return table.entries;
}

std::vector<Registration> Registrations(const std::string& group) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  std::vector<Registration> out;
  for (const auto& e : table.entries) {
    if (e.group == group) out.push_back(e);
  }
  return out;
}

std::size_t RegistrationCount(const std::string& group, const std::string& entry) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  std::size_t n = 0;
  for (const auto& e : table.entries) {
    if (e.group == group && e.entry == entry) ++n;
  }
  return n;
}

bool FindRegistration(const std::string& group, const std::string& entry, Registration* out) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  for (const auto& e : table.entries) {
    if (e.group == group && e.entry == entry) {
      if (out) *out = e;
      return true;
    }
  }
  return false;
}

HIObject CallFactory(const std::string& group, const std::string& entry, HIObject owner,
                     const char* name, void* data) {
  Registration r;
  if (!FindRegistration(group, entry, &r)) return nullptr;
  return r.factory(owner, name, data);  // no host lock held
}

}  // namespace fbhost
