// The plug-in as a Windows DLL, loaded with LoadLibrary as the host loads
// it: the loader's process-attach notification (DllMain) registers both
// classes before any exported function is called, and the host's later
// EntryPointOrbelMobuOptical calls add nothing. Runs under wine.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <fbhost/plugins.h>
#include <fbhost/registry.h>
#include <fbsdk/fblibrary.h>
#include <fbsdk/fbplug.h>

namespace {

struct Expected {
  const char* group;
  const char* entry;
};

const Expected kExpected[] = {
    {"Boxes/Devices", "Orbel Stream Device"},
    {"FbxStorable/Device", "OrbelDeviceOptical"},
    {"UI_Associated_ClassName", "OrbelDeviceOptical"},
};

class PluginDllTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registrationsBefore = fbhost::Registrations().size();
    counterBefore = FBPlug::mGlobalTypeInfo;
    module = LoadLibraryA(ORBEL_PLUGIN_PATH);
    loadError = module == nullptr ? GetLastError() : 0;
    registrationsAfterLoad = fbhost::Registrations().size();
    counterAfterLoad = FBPlug::mGlobalTypeInfo;
    if (module == nullptr) return;
    init = reinterpret_cast<FBLibraryInitFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "LIBRARY_INIT")));
    entry = reinterpret_cast<FBEntryPointFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "EntryPointOrbelMobuOptical")));
  }
  void SetUp() override {
    ASSERT_NE(module, nullptr) << "LoadLibrary('" << ORBEL_PLUGIN_PATH << "') failed, error "
                               << loadError;
    ASSERT_NE(init, nullptr) << "LIBRARY_INIT is not exported under its plain name";
    ASSERT_NE(entry, nullptr) << "EntryPointOrbelMobuOptical is not exported under its plain name";
  }

  static void ExpectEachRegisteredOnce() {
    for (const auto& e : kExpected) {
      EXPECT_EQ(fbhost::RegistrationCount(e.group, e.entry), 1u) << e.group << " / " << e.entry;
    }
    EXPECT_EQ(fbhost::Registrations().size(), registrationsBefore + 3);
  }

  static inline std::size_t registrationsBefore = 0;
  static inline std::size_t registrationsAfterLoad = 0;
  static inline int counterBefore = 0;
  static inline int counterAfterLoad = 0;
  static inline HMODULE module = nullptr;
  static inline DWORD loadError = 0;
  static inline FBLibraryInitFunction init = nullptr;
  static inline FBEntryPointFunction entry = nullptr;
};

TEST_F(PluginDllTest, LoadingAloneRegistersBothClassesInOrder) {
  // Nothing exported has been called yet: this is DllMain's work.
  ASSERT_EQ(registrationsAfterLoad, registrationsBefore + 3);
  const auto all = fbhost::Registrations();
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(all[registrationsBefore + i].group, kExpected[i].group);
    EXPECT_EQ(all[registrationsBefore + i].entry, kExpected[i].entry);
  }
}

TEST_F(PluginDllTest, LoadingTakesTwoTypeNumbers) {
  EXPECT_EQ(counterAfterLoad - counterBefore, 2);
}

TEST_F(PluginDllTest, EntryPointAfterLoadingRegistersNothingNew) {
  EXPECT_TRUE(init(nullptr));
  entry(kFBDllLoad);
  ExpectEachRegisteredOnce();
  for (int code : {1, 2, 3, 42, -1}) entry(static_cast<kFBDllOperation>(code));
  entry(kFBDllLoad);
  ExpectEachRegisteredOnce();
}

TEST_F(PluginDllTest, LoadingAgainRunsNoSecondAttach) {
  // A second LoadLibrary only counts a reference; DllMain is not called.
  HMODULE again = LoadLibraryA(ORBEL_PLUGIN_PATH);
  ASSERT_EQ(again, module);
  ExpectEachRegisteredOnce();
  FreeLibrary(again);
}

// The host's own loader on the DLL's folder: *.dll files, the plug-in found
// and its DllMain's registrations kept, the SDK and client DLLs no plug-ins.
TEST_F(PluginDllTest, HostLoaderOnTheFolderRegistersNothingNew) {
  const std::string path = ORBEL_PLUGIN_PATH;
  const std::string folder = path.substr(0, path.find_last_of("/\\"));
  const auto results = fbhost::LoadPluginDirectory(folder);
  auto named = [&](const std::string& file) {
    return std::find_if(results.begin(), results.end(), [&](const fbhost::PluginLoadResult& r) {
      return r.path.size() >= file.size() &&
             r.path.compare(r.path.size() - file.size(), file.size(), file) == 0;
    });
  };
  const auto plugin = named("/libOrbelOptical.dll");
  ASSERT_NE(plugin, results.end());
  EXPECT_EQ(plugin->status, fbhost::PluginLoadStatus::Loaded) << plugin->message;
  for (const char* other : {"/libfbsdk.dll", "/libOrbelMoBuStreamData.dll"}) {
    const auto r = named(other);
    ASSERT_NE(r, results.end()) << other;
    EXPECT_EQ(r->status, fbhost::PluginLoadStatus::NotPlugin) << other << ": " << r->message;
  }
  EXPECT_TRUE(std::is_sorted(results.begin(), results.end(),
                             [](const auto& a, const auto& b) { return a.path < b.path; }));
  ExpectEachRegisteredOnce();
}

TEST(PluginDllLoaderTest, MissingFolderOrFileIsQuoted) {
  const auto folder = fbhost::LoadPluginDirectory("C:/no/such/folder");
  ASSERT_EQ(folder.size(), 1u);
  EXPECT_EQ(folder[0].status, fbhost::PluginLoadStatus::Failed);
  EXPECT_NE(folder[0].message.find("'C:/no/such/folder'"), std::string::npos) << folder[0].message;
  const auto file = fbhost::LoadPlugin("C:/no/such/folder/libNothing.dll");
  EXPECT_EQ(file.status, fbhost::PluginLoadStatus::Failed);
  EXPECT_NE(file.message.find("cannot load 'C:/no/such/folder/libNothing.dll': "),
            std::string::npos)
      << file.message;
}

}  // namespace
