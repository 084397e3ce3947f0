// fbhost/plugins.h: loading plug-in libraries, as the host does at start-up.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. Call from one
// thread (the host's start-up thread). Loaded plug-ins stay loaded until the
// process ends: the registrations hold their factories.
#pragma once

#include <string>
#include <vector>

#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// The entry symbol the host looks for, besides LIBRARY_INIT.
inline constexpr const char* kDefaultEntryPoint = "EntryPointOrbelMobuOptical";

enum class PluginLoadStatus {
  Loaded,     // loaded, LIBRARY_INIT answered true, the entry point ran with kFBDllLoad
  NotPlugin,  // loads, but has neither entry symbol; it was unloaded again
  Failed,     // a plug-in candidate that could not be loaded; see the message
};

struct PluginLoadResult {
  PluginLoadStatus status = PluginLoadStatus::Failed;
  std::string path;
  // Why the load failed, quoting the path and the symbol or loader message.
  std::string message;
  // Type numbers the library took from FBPlug::mGlobalTypeInfo while loading:
  // [firstTypeNumber, endTypeNumber).
  int firstTypeNumber = 0;
  int endTypeNumber = 0;
  // Library objects (FBLibraryBase) it brought; their LibInit, LibOpen and
  // LibReady have been called.
  int libraryObjects = 0;
};

// Loads one library (dlopen), checks that it exports LIBRARY_INIT and
// `entryPoint`, calls LIBRARY_INIT(nullptr) and then entryPoint(kFBDllLoad),
// then the stage callbacks of the library objects it brought.
//   Failed: dlopen failed; only one of the two symbols is there ("mandatory
//   symbol 'LIBRARY_INIT' missing"); LIBRARY_INIT answered false (the entry
//   point is then not called, the library stays loaded).
//   NotPlugin: neither symbol; the library is closed again.
// A library this host loaded before (the same file, however named) is not
// loaded again: the answer is its first result, and nothing is called.
FBSDK_API PluginLoadResult LoadPlugin(const std::string& path,
                                      const std::string& entryPoint = kDefaultEntryPoint);

// Loads every lib*.so in the folder, in name order. The answer has one
// result per library tried, NotPlugin ones included.
FBSDK_API std::vector<PluginLoadResult> LoadPluginDirectory(
    const std::string& directory, const std::string& entryPoint = kDefaultEntryPoint);

// Every library loaded with status Loaded, in load order.
FBSDK_API std::vector<PluginLoadResult> LoadedPlugins();

}  // namespace fbhost
