#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

#include <fbhost/plugins.h>
#include <fbhost/registry.h>

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(PluginLoaderTest, LoadsCompletePluginAndRunsEntryWithLoadCode) {
  const auto result = fbhost::LoadPlugin(FAKE_PLUGIN_COMPLETE);
  ASSERT_EQ(result.status, fbhost::PluginLoadStatus::Loaded) << result.message;
  EXPECT_EQ(result.libraryObjects, 1);
  EXPECT_EQ(result.endTypeNumber, result.firstTypeNumber);  // it takes no type number
  EXPECT_EQ(fbhost::RegistrationCount("Test/FakePlugin", "Fake"), 1u);
  void* self = dlopen(FAKE_PLUGIN_COMPLETE, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(*static_cast<int*>(dlsym(self, "gFakeInitCalls")), 1);
  EXPECT_EQ(*static_cast<int*>(dlsym(self, "gFakeEntryCalls")), 1);
  dlclose(self);
  bool listed = false;
  for (const auto& p : fbhost::LoadedPlugins()) listed |= p.path == FAKE_PLUGIN_COMPLETE;
  EXPECT_TRUE(listed);
}

TEST(PluginLoaderTest, RejectsCandidateWithoutLibraryInit) {
  const auto result = fbhost::LoadPlugin(FAKE_PLUGIN_NO_INIT);
  EXPECT_EQ(result.status, fbhost::PluginLoadStatus::Failed);
  EXPECT_TRUE(Contains(result.message, "LIBRARY_INIT")) << result.message;
  EXPECT_TRUE(Contains(result.message, FAKE_PLUGIN_NO_INIT)) << result.message;
}

TEST(PluginLoaderTest, SkipsLibraryThatIsNoPlugin) {
  const auto result = fbhost::LoadPlugin(FAKE_NOT_PLUGIN);
  EXPECT_EQ(result.status, fbhost::PluginLoadStatus::NotPlugin);
  EXPECT_TRUE(result.message.empty());
}

TEST(PluginLoaderTest, ReportsUnloadableFileWithItsPath) {
  const auto result = fbhost::LoadPlugin("/nonexistent/libNothing.so");
  EXPECT_EQ(result.status, fbhost::PluginLoadStatus::Failed);
  EXPECT_TRUE(Contains(result.message, "/nonexistent/libNothing.so")) << result.message;
}

TEST(PluginLoaderTest, DirectoryLoadTriesEveryLibraryInNameOrder) {
  const auto results = fbhost::LoadPluginDirectory(FAKE_PLUGIN_DIR);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(Contains(results[0].path, "libfake_plugin_complete.so"));
  EXPECT_TRUE(Contains(results[1].path, "libfake_plugin_no_init.so"));
  EXPECT_TRUE(Contains(results[2].path, "libfake_plugin_not_plugin.so"));
  EXPECT_EQ(results[1].status, fbhost::PluginLoadStatus::Failed);
  EXPECT_EQ(results[2].status, fbhost::PluginLoadStatus::NotPlugin);
  const auto missing = fbhost::LoadPluginDirectory("/nonexistent-folder");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].status, fbhost::PluginLoadStatus::Failed);
  EXPECT_TRUE(Contains(missing[0].message, "/nonexistent-folder"));
}

}  // namespace
