// The built plug-in through the host's own loader, found by its registered
// name.
#include <gtest/gtest.h>

#include <fbhost/plugins.h>
#include <fbhost/registry.h>

namespace {

TEST(PluginLoaderSmokeTest, LoadsAndIsFoundByItsRegisteredName) {
  const auto result = fbhost::LoadPlugin(ORBEL_PLUGIN_PATH);
  ASSERT_EQ(result.status, fbhost::PluginLoadStatus::Loaded) << result.message;
  EXPECT_EQ(result.endTypeNumber - result.firstTypeNumber, 2);
  EXPECT_EQ(result.libraryObjects, 1);
  fbhost::Registration device;
  ASSERT_TRUE(fbhost::FindRegistration("Boxes/Devices", "Orbel Stream Device", &device));
  EXPECT_EQ(device.description, "Orbel Mocap Device");
  EXPECT_EQ(fbhost::RegistrationCount("Boxes/Devices", "Orbel Stream Device"), 1u);
  // Loading again changes nothing.
  const auto again = fbhost::LoadPlugin(ORBEL_PLUGIN_PATH);
  EXPECT_EQ(again.status, fbhost::PluginLoadStatus::Loaded);
  EXPECT_EQ(fbhost::RegistrationCount("Boxes/Devices", "Orbel Stream Device"), 1u);
}

}  // namespace
