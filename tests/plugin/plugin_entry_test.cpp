// The plug-in built without its load-time process-attach stand-in: the entry
// point alone registers with code 0, once, and any other code registers
// nothing.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <fbhost/registry.h>
#include <fbsdk/fblibrary.h>
#include <fbsdk/fbplug.h>

namespace {

std::size_t OrbelRegistrations() {
  return fbhost::RegistrationCount("Boxes/Devices", "Orbel Stream Device") +
         fbhost::RegistrationCount("FbxStorable/Device", "OrbelDeviceOptical") +
         fbhost::RegistrationCount("UI_Associated_ClassName", "OrbelDeviceOptical");
}

TEST(PluginEntryTest, OnlyCodeZeroRegistersAndOnlyOnce) {
  const int counterBefore = FBPlug::mGlobalTypeInfo;
  void* handle = dlopen(ORBEL_PLUGIN_NOATTACH_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  EXPECT_EQ(FBPlug::mGlobalTypeInfo - counterBefore, 2);
  auto entry = reinterpret_cast<FBEntryPointFunction>(dlsym(handle, "EntryPointOrbelMobuOptical"));
  ASSERT_NE(entry, nullptr);

  EXPECT_EQ(OrbelRegistrations(), 0u) << "nothing registers before the entry point runs";
  for (int code : {1, 2, 3, 4, 5, 42, -1}) entry(static_cast<kFBDllOperation>(code));
  EXPECT_EQ(OrbelRegistrations(), 0u) << "codes other than 0 register nothing";

  const auto before = fbhost::Registrations().size();
  entry(kFBDllLoad);
  const auto all = fbhost::Registrations();
  ASSERT_EQ(all.size(), before + 3);
  // Device class first (both of its registrations), then the layout class.
  EXPECT_EQ(all[before].group, "Boxes/Devices");
  EXPECT_EQ(all[before + 1].group, "FbxStorable/Device");
  EXPECT_EQ(all[before + 2].group, "UI_Associated_ClassName");

  for (int i = 0; i < 3; ++i) entry(kFBDllLoad);
  EXPECT_EQ(fbhost::Registrations().size(), before + 3);
  EXPECT_EQ(OrbelRegistrations(), 3u);
}

}  // namespace
