// The built plug-in, loaded with dlopen as the host does: what loading it
// registers, the type numbers it takes, what its entry point does with each
// code, its factories, and its exported symbols.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <fbhost/components.h>
#include <fbhost/config.h>
#include <fbhost/registry.h>
#include <fbsdk/fbcomponent.h>
#include <fbsdk/fblibrary.h>
#include <fbsdk/fbplug.h>
#include <fbsdk/fbregistry.h>

namespace {

struct Expected {
  const char* group;
  const char* entry;
  const char* description;
};

const Expected kExpected[] = {
    {"Boxes/Devices", "Orbel Stream Device", "Orbel Mocap Device"},
    {"FbxStorable/Device", "OrbelDeviceOptical", "Orbel Mocap Device"},
    {"UI_Associated_ClassName", "OrbelDeviceOptical", "OrbelDeviceOptical Device Layout"},
};

class PluginLoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registrationsBefore = fbhost::Registrations().size();
    counterBefore = FBPlug::mGlobalTypeInfo;
    handle = dlopen(ORBEL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    counterAfter = FBPlug::mGlobalTypeInfo;
    if (handle == nullptr) return;
    init = reinterpret_cast<FBLibraryInitFunction>(dlsym(handle, "LIBRARY_INIT"));
    entry = reinterpret_cast<FBEntryPointFunction>(dlsym(handle, "EntryPointOrbelMobuOptical"));
  }
  void SetUp() override {
    ASSERT_NE(handle, nullptr) << dlerror();
    ASSERT_NE(init, nullptr);
    ASSERT_NE(entry, nullptr);
  }

  static void ExpectEachRegisteredOnce() {
    for (const auto& e : kExpected) {
      EXPECT_EQ(fbhost::RegistrationCount(e.group, e.entry), 1u) << e.group << " / " << e.entry;
    }
    EXPECT_EQ(fbhost::Registrations().size(), registrationsBefore + 3);
  }

  static inline std::size_t registrationsBefore = 0;
  static inline int counterBefore = 0;
  static inline int counterAfter = 0;
  static inline void* handle = nullptr;
  static inline FBLibraryInitFunction init = nullptr;
  static inline FBEntryPointFunction entry = nullptr;
};

TEST_F(PluginLoadTest, LoadingRegistersEachClassOnce) { ExpectEachRegisteredOnce(); }

TEST_F(PluginLoadTest, RegistrationsCarryTheirExactTexts) {
  const auto all = fbhost::Registrations();
  ASSERT_GE(all.size(), registrationsBefore + 3);
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& r = all[registrationsBefore + i];
    SCOPED_TRACE(kExpected[i].group);
    EXPECT_EQ(r.group, kExpected[i].group);
    EXPECT_EQ(r.entry, kExpected[i].entry);
    EXPECT_EQ(r.description, kExpected[i].description);
    EXPECT_EQ(r.icon, "OrbelOpticalDevice.tif");
    EXPECT_TRUE(r.flag);
    EXPECT_NE(r.factory, nullptr);
  }
  // Both device registrations share the device factory; the layout has its own.
  EXPECT_EQ(all[registrationsBefore].factory, all[registrationsBefore + 1].factory);
  EXPECT_NE(all[registrationsBefore].factory, all[registrationsBefore + 2].factory);
}

TEST_F(PluginLoadTest, LoadingRaisesTheTypeCounterByTwo) {
  EXPECT_EQ(counterAfter - counterBefore, 2);
  EXPECT_EQ(FBPlug::mGlobalTypeInfo, counterAfter);  // nothing takes one later
}

TEST_F(PluginLoadTest, LibraryInitAnswersTrue) { EXPECT_TRUE(init(nullptr)); }

TEST_F(PluginLoadTest, EntryPointWithLoadCodeIsIdempotent) {
  for (int i = 0; i < 5; ++i) entry(kFBDllLoad);
  ExpectEachRegisteredOnce();
}

TEST_F(PluginLoadTest, OtherCodesRegisterNothing) {
  for (int code : {1, 2, 3, 5, 42, -1}) entry(static_cast<kFBDllOperation>(code));
  ExpectEachRegisteredOnce();
}

// Creates one device through the named registration and checks it is the
// plug-in's device, with the first type number the load took (so the
// device's number is the smaller), then ends it with FBDelete and checks
// that nothing is left behind.
void ExpectDeviceFactoryRoundTrip(const char* group, const char* entry, int deviceTypeNumber) {
  SCOPED_TRACE(group);
  const auto live = fbhost::LiveComponentCount();
  const auto allocations = fbhost::OutstandingComponentAllocations();
  const HIObject handle = fbhost::CallFactory(group, entry, nullptr, "Orbel", nullptr);
  ASSERT_NE(handle, nullptr);
  FBComponent* device = FBGetFBObject(handle, false);
  ASSERT_NE(device, nullptr);
  EXPECT_STREQ(device->ClassName(), "OrbelSimpleDeviceOptical");
  EXPECT_EQ(device->GetTypeId(), deviceTypeNumber);
  EXPECT_TRUE(device->Is(deviceTypeNumber));
  EXPECT_FALSE(device->Is(deviceTypeNumber + 1));  // the layout's number
  EXPECT_TRUE(device->Is(FBComponent::TypeInfo));
  EXPECT_TRUE(device->mAllocated);
  device->FBDelete();
  EXPECT_EQ(FBGetFBObject(handle, false), nullptr);
  EXPECT_EQ(fbhost::LiveComponentCount(), live);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations);
}

TEST_F(PluginLoadTest, DeviceFactoryMakesTheDeviceWithTheSmallerTypeNumber) {
  // Any settings file the device touches goes to a scratch folder.
  char folder[] = "/tmp/orbel-plugin-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  fbhost::SetConfigFolder(folder);
  ExpectDeviceFactoryRoundTrip("Boxes/Devices", "Orbel Stream Device", counterBefore);
  ExpectDeviceFactoryRoundTrip("FbxStorable/Device", "OrbelDeviceOptical", counterBefore);
  fbhost::SetConfigFolder("");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

// The layout factory answers no handle until the panel class is linked in
// (layout/); then this test becomes a round trip like the device's.
TEST_F(PluginLoadTest, LayoutFactoryAnswersNoHandleYet) {
  const auto live = fbhost::LiveComponentCount();
  const auto allocations = fbhost::OutstandingComponentAllocations();
  EXPECT_EQ(fbhost::CallFactory("UI_Associated_ClassName", "OrbelDeviceOptical", nullptr, nullptr,
                                nullptr),
            nullptr);
  EXPECT_EQ(fbhost::LiveComponentCount(), live);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations);
}

// Names that every linker or sanitizer runtime adds to a shared library.
bool IsToolchainSymbol(const std::string& name) {
  static const std::set<std::string> kNames = {"_init", "_fini", "_edata", "_end", "__bss_start"};
  if (kNames.count(name) != 0) return true;
  for (const char* prefix :
       {"__asan", "__odr_asan", "__ubsan", "__tsan", "__sanitizer", "__lsan"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

TEST(PluginExportsTest, ExportsExactlyItsTwoEntryFunctions) {
  const std::string command =
      std::string(ORBEL_NM) + " -D --defined-only '" + ORBEL_PLUGIN_PATH + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr) << command;
  std::set<std::string> exported;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    // "<address> <type> <name>"
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const auto lastSpace = text.rfind(' ');
    if (lastSpace == std::string::npos) continue;
    const std::string name = text.substr(lastSpace + 1);
    if (!IsToolchainSymbol(name)) exported.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0) << command;
  EXPECT_EQ(exported, (std::set<std::string>{"EntryPointOrbelMobuOptical", "LIBRARY_INIT"}));
}

}  // namespace
