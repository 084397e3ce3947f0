// The plug-in's load-time statics, linked into this test program: they are
// built before main (as at the library's load), the device's type number is
// taken first, and the process-attach stand-in registered the classes.
#include <gtest/gtest.h>

#include <fbhost/registry.h>
#include <fbsdk/fbplug.h>

#include "orbel_defaults.h"

namespace {

TEST(PluginStaticsTest, DeviceTypeNumberIsTakenFirst) {
  EXPECT_EQ(gOrbelLayoutTypeInfo, gOrbelDeviceTypeInfo + 1);
  EXPECT_LT(gOrbelDeviceTypeInfo, gOrbelLayoutTypeInfo);
  EXPECT_LT(gOrbelLayoutTypeInfo, FBPlug::mGlobalTypeInfo);
  EXPECT_GT(gOrbelDeviceTypeInfo, 0);
}

TEST(PluginStaticsTest, DefaultServerAddress) {
  EXPECT_EQ(gOrbelDefaultServerHost, "localhost");
  EXPECT_EQ(gOrbelDefaultServerPort, "801");
}

TEST(PluginStaticsTest, ProcessAttachRegisteredBeforeMain) {
  EXPECT_EQ(fbhost::RegistrationCount("Boxes/Devices", "Orbel Stream Device"), 1u);
  EXPECT_EQ(fbhost::RegistrationCount("FbxStorable/Device", "OrbelDeviceOptical"), 1u);
  EXPECT_EQ(fbhost::RegistrationCount("UI_Associated_ClassName", "OrbelDeviceOptical"), 1u);
}

}  // namespace
