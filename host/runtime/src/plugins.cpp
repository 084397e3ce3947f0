#include "fbhost/plugins.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cctype>
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

// The system's loader, behind four calls. OpenLibrary answers null and sets
// why when the library cannot be loaded; ListLibraries answers false when
// the folder cannot be read.
#if defined(_WIN32)

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<std::size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string SystemErrorText(DWORD code) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == ' ')) --n;
  std::string text(buffer, n);
  if (text.empty()) text = "system error";
  return text + " (" + std::to_string(code) + ")";
}

void* OpenLibrary(const std::string& path, std::string& why) {
  // The altered search path finds the plug-in's own DLLs (fbsdk, the client
  // library) in its folder when the path names one; no error box on failure.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD code = module == nullptr ? GetLastError() : 0;
  SetErrorMode(oldMode);
  if (module == nullptr) why = SystemErrorText(code);
  return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

// Windows plug-ins are *.dll, whatever their prefix.
bool IsLibraryName(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return EndsWith(lower, ".dll");
}

bool ListLibraries(const std::string& directory, std::vector<std::string>& names) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(Wide(directory + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::string name = Narrow(found.cFileName);
    if (IsLibraryName(name)) names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

#else

void* OpenLibrary(const std::string& path, std::string& why) {
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    why = text ? text : "unknown loader error";
  }
  return handle;
}

void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }

void CloseLibrary(void* handle) { dlclose(handle); }

bool IsLibraryName(const std::string& name) {
  return name.rfind("lib", 0) == 0 && EndsWith(name, ".so");
}

bool ListLibraries(const std::string& directory, std::vector<std::string>& names) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return false;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (IsLibraryName(name)) names.push_back(name);
  }
  closedir(dir);
  return true;
}

#endif

}  // namespace

PluginLoadResult LoadPlugin(const std::string& path, const std::string& entryPoint) {
  PluginLoadResult result;
  result.path = path;
  const std::vector<FBLibraryBase*> librariesBefore = LibrarySnapshot();
  result.firstTypeNumber = FBPlug::mGlobalTypeInfo;

  std::string why;
  void* handle = OpenLibrary(path, why);
  result.endTypeNumber = FBPlug::mGlobalTypeInfo;
  if (handle == nullptr) {
    result.status = PluginLoadStatus::Failed;
    result.message = "cannot load '" + path + "': " + why;
    return result;
  }

  for (const auto& earlier : Loaded()) {
    if (earlier.handle == handle) {
      CloseLibrary(handle);  // drop the reference this call added
      return earlier.result;
    }
  }

  auto* init = reinterpret_cast<FBLibraryInitFunction>(FindSymbol(handle, kLibraryInit));
  auto* entry = reinterpret_cast<FBEntryPointFunction>(FindSymbol(handle, entryPoint.c_str()));
  if (init == nullptr && entry == nullptr) {
    // Not a plug-in (the SDK itself, a client library, ...): close it again.
    CloseLibrary(handle);
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
  std::vector<std::string> names;
  if (!ListLibraries(directory, names)) {
    PluginLoadResult r;
    r.path = directory;
    r.status = PluginLoadStatus::Failed;
    r.message = "cannot open plug-in folder '" + directory + "'";
    results.push_back(r);
    return results;
  }
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
