#include "fbhost/plugins.h"

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <mutex>

#include "fbsdk/fblibrary.h"
#include "fbsdk/fbplug.h"
#include "host_state.h"

namespace fbhost {
namespace {

constexpr const char* kLibraryInit = "LIBRARY_INIT";

struct LoadedPlugin {
  void* handle;
  PluginLoadResult result;
};

std::vector<LoadedPlugin>& Loaded() {
  static auto* loaded = new std::vector<LoadedPlugin>;
  return *loaded;
}

std::vector<FBLibraryBase*> LibrarySnapshot() {
  auto& table = fbhost_internal::Libraries();
  std::lock_guard<std::mutex> lock(table.lock);
  return table.libraries;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

PluginLoadResult LoadPlugin(const std::string& path, const std::string& entryPoint) {
  PluginLoadResult result;
  result.path = path;
  const std::vector<FBLibraryBase*> librariesBefore = LibrarySnapshot();
  result.firstTypeNumber = FBPlug::mGlobalTypeInfo;

  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  result.endTypeNumber = FBPlug::mGlobalTypeInfo;
  if (handle == nullptr) {
    const char* why = dlerror();
    result.status = PluginLoadStatus::Failed;
    result.message = "cannot load '" + path + "': " + (why ? why : "unknown loader error");
    return result;
  }

  for (const auto& earlier : Loaded()) {
    if (earlier.handle == handle) {
      dlclose(handle);  // drop the reference this call added
      return earlier.result;
    }
  }

  auto* init = reinterpret_cast<FBLibraryInitFunction>(dlsym(handle, kLibraryInit));
  auto* entry = reinterpret_cast<FBEntryPointFunction>(dlsym(handle, entryPoint.c_str()));
  if (init == nullptr && entry == nullptr) {
    // Not a plug-in (the SDK itself, a client library, ...): close it again.
    dlclose(handle);
    result.status = PluginLoadStatus::NotPlugin;
    result.endTypeNumber = result.firstTypeNumber;
    return result;
  }
  if (init == nullptr || entry == nullptr) {
    result.status = PluginLoadStatus::Failed;
    result.message = "rejected '" + path + "': mandatory symbol '" +
                     (init == nullptr ? std::string(kLibraryInit) : entryPoint) + "' missing";
    // Its static initialisers ran already; it stays loaded so that nothing
    // it announced to the host dangles.
    return result;
  }

  if (!init(nullptr)) {
    result.status = PluginLoadStatus::Failed;
    result.message = "rejected '" + path + "': LIBRARY_INIT answered false";
    return result;
  }
  entry(kFBDllLoad);
  result.endTypeNumber = FBPlug::mGlobalTypeInfo;

  // The library objects this library brought, in construction order.
  for (FBLibraryBase* library : LibrarySnapshot()) {
    if (std::find(librariesBefore.begin(), librariesBefore.end(), library) !=
        librariesBefore.end()) {
      continue;
    }
    ++result.libraryObjects;
    const char* failedStage = nullptr;
    if (!library->LibInit()) {
      failedStage = "LibInit";
    } else if (!library->LibOpen()) {
      failedStage = "LibOpen";
    } else if (!library->LibReady()) {
      failedStage = "LibReady";
    }
    if (failedStage != nullptr) {
      result.message += std::string(result.message.empty() ? "" : "; ") + "'" + path +
                        "': library stage " + failedStage + " answered false";
    }
  }
  result.status = PluginLoadStatus::Loaded;
  Loaded().push_back({handle, result});
  return result;
}

std::vector<PluginLoadResult> LoadPluginDirectory(const std::string& directory,
                                                  const std::string& entryPoint) {
  std::vector<PluginLoadResult> results;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    PluginLoadResult r;
    r.path = directory;
    r.status = PluginLoadStatus::Failed;
    r.message = "cannot open plug-in folder '" + directory + "'";
    results.push_back(r);
    return results;
  }
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind("lib", 0) == 0 && EndsWith(name, ".so")) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    std::string path = directory;
    path += '/';
    path += name;
    results.push_back(LoadPlugin(path, entryPoint));
  }
  return results;
}

std::vector<PluginLoadResult> LoadedPlugins() {
  std::vector<PluginLoadResult> out;
  for (const auto& p : Loaded()) out.push_back(p.result);
  return out;
}

}  // namespace fbhost
