// The device's settings file: what a first run writes, how stored texts read
// back and are rewritten, when the file is read, sharing between devices,
// and damaged files.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fbsdk/fbconfigfile.h>

#include "device_fixture.h"
#include "orbel_settings_text.h"

namespace orbel::device_testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSection = "DataStream";

// The nine keys in the order the device reads them, with their defaults.
const std::vector<std::pair<std::string, std::string>> kDefaults = {
    {"HostAddress", "localhost"},
    {"HostPort", "801"},
    {"AxisMapping", "0"},
    {"StreamMarkers", "0"},
    {"StreamUnlabeledMarkers", "0"},
    {"UnlabeledMarkerCount", "100"},
    {"StreamBones", "0"},
    {"UseTimecode", "0"},
    {"StripCharacterNameFromObjectName", "0"},
};

class SettingsTest : public DeviceTest {
 protected:
  std::string FilePath() const { return mConfig.path() + "/OrbelOpticalDevice.txt"; }
  // The stored text of a key, or "<missing>".
  std::string Stored(const std::string& key) {
    FBConfigFile file("@OrbelOpticalDevice.txt");
    const char* value = file.Get(kSection, key.c_str(), "<missing>");
    return value != nullptr ? value : "<missing>";
  }
  void Store(const std::string& key, const std::string& value) {
    FBConfigFile file("@OrbelOpticalDevice.txt");
    ASSERT_TRUE(file.Set(kSection, key.c_str(), value.c_str())) << key;
  }
  OrbelSimpleDeviceOptical* PlainDevice() {
    std::string error;
    OrbelSimpleDeviceOptical* device =
        AsOrbelDevice(fbhost::AddDevice("Orbel Stream Device", &error));
    EXPECT_NE(device, nullptr) << error;
    return device;
  }
};

TEST_F(SettingsTest, FirstRunUsesAndWritesTheDefaults) {
  ASSERT_FALSE(fs::exists(FilePath()));
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);

  EXPECT_EQ(device->HostAddress(), "localhost");
  EXPECT_EQ(device->HostPort(), "801");
  EXPECT_EQ(device->AxisMapping(), 0);
  EXPECT_FALSE(device->StreamBones());
  EXPECT_FALSE(device->StreamMarkers());
  EXPECT_FALSE(device->StreamUnlabeledMarkers());
  EXPECT_STREQ(device->UnlabeledMarkerCountText(), "100");
  EXPECT_FALSE(device->UseTimecode());
  EXPECT_FALSE(device->StripCharacterName());
  EXPECT_FALSE(device->Paused());
  for (const auto& [key, value] : kDefaults) EXPECT_EQ(Stored(key), value) << key;
}

struct StoredText {
  const char* name;
  const char* key;
  const char* stored;
  const char* rewritten;
};

void PrintTo(const StoredText& row, std::ostream* out) { *out << row.name; }

class StoredTextTest : public SettingsTest, public ::testing::WithParamInterface<StoredText> {};

// A stored text loads by the atoi rule and is rewritten in its normal form.
TEST_P(StoredTextTest, LoadsAndIsRewritten) {
  const StoredText& row = GetParam();
  Store(row.key, row.stored);
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(Stored(row.key), row.rewritten);

  const std::string key = row.key;
  const int loaded = orbel::settings::ParseInteger(row.rewritten);
  if (key == "StreamBones") {
    EXPECT_EQ(device->StreamBones(), loaded != 0);
  }
  if (key == "StreamMarkers") {
    EXPECT_EQ(device->StreamMarkers(), loaded != 0);
  }
  if (key == "UseTimecode") {
    EXPECT_EQ(device->UseTimecode(), loaded != 0);
  }
  if (key == "AxisMapping") {
    EXPECT_EQ(device->AxisMapping(), loaded);
  }
  if (key == "UnlabeledMarkerCount") {
    EXPECT_STREQ(device->UnlabeledMarkerCountText(), row.rewritten);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AtoiRule, StoredTextTest,
    ::testing::Values(StoredText{"BlankThenSeven", "StreamBones", " 7", "1"},
                      StoredText{"Two", "StreamMarkers", "2", "1"},
                      StoredText{"Letters", "UseTimecode", "yes", "0"},
                      StoredText{"Empty", "StreamBones", "", "0"},
                      StoredText{"TwelveThenLetters", "UnlabeledMarkerCount", "12abc", "12"},
                      StoredText{"LeadingZerosAndSign", "AxisMapping", "\t+0001x", "1"},
                      StoredText{"Negative", "AxisMapping", "-3", "-3"},
                      // Counts are bounded as the reader bounds them.
                      StoredText{"NegativeCount", "UnlabeledMarkerCount", "-5", "0"},
                      StoredText{"AbsurdCount", "UnlabeledMarkerCount", "4000000000", "100000"},
                      StoredText{"OverflowingAxis", "AxisMapping", "-99999999999999999999",
                                 "-2147483648"}),
    [](const ::testing::TestParamInfo<StoredText>& info) { return info.param.name; });

TEST_F(SettingsTest, AddressAndPortAreKeptExactly) {
  Store("HostAddress", " capture-01 ");
  Store("HostPort", "0801");
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->HostAddress(), " capture-01 ");
  EXPECT_EQ(device->HostPort(), "0801");
  EXPECT_EQ(Stored("HostAddress"), " capture-01 ");
  EXPECT_EQ(Stored("HostPort"), "0801");
}

// A start re-reads every key but the server's address and port; an
// address typed since initialise stays in use.
TEST_F(SettingsTest, StartRereadsEveryKeyButAddressAndPort) {
  Serve("alice_bob.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  Store("HostAddress", "nowhere.invalid");
  Store("HostPort", "1");
  Store("AxisMapping", "1");
  Store("StreamMarkers", "0");
  Store("StreamUnlabeledMarkers", "1");
  Store("UnlabeledMarkerCount", "7");
  Store("StreamBones", "0");
  Store("UseTimecode", "0");
  Store("StripCharacterNameFromObjectName", "1");

  ASSERT_TRUE(GoOnline(device));
  EXPECT_EQ(device->HostAddress(), "127.0.0.1");
  EXPECT_EQ(device->HostPort(), std::to_string(mServer.port()));
  EXPECT_EQ(device->AxisMapping(), 1);
  EXPECT_FALSE(device->StreamMarkers());
  EXPECT_TRUE(device->StreamUnlabeledMarkers());
  EXPECT_STREQ(device->UnlabeledMarkerCountText(), "7");
  EXPECT_FALSE(device->StreamBones());
  EXPECT_TRUE(device->StripCharacterName());
  // Untouched by the start.
  EXPECT_EQ(Stored("HostAddress"), "nowhere.invalid");
}

TEST_F(SettingsTest, TwoDevicesShareTheFile) {
  Serve("alice_bob.json");
  OrbelSimpleDeviceOptical* first = AddDevice();
  OrbelSimpleDeviceOptical* second = AddDevice();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);

  first->SetStreamUnlabeledMarkers(true);
  first->SetUnlabeledMarkerCount(9);
  ASSERT_TRUE(GoOnline(second));
  EXPECT_TRUE(second->StreamUnlabeledMarkers());
  EXPECT_STREQ(second->UnlabeledMarkerCountText(), "9");

  // The address reaches the other device at its next initialise.
  first->SetHostAddress("10.1.2.3");
  EXPECT_EQ(second->HostAddress(), "127.0.0.1");
  ASSERT_TRUE(fbhost::RunDeviceOperation(second, 0));
  EXPECT_EQ(second->HostAddress(), "10.1.2.3");
}

TEST_F(SettingsTest, WithoutAReaderOnlyTheStripOptionIsKept) {
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  Access::DropReader(*device);

  device->SetHostAddress("elsewhere");
  device->SetHostPort("9");
  device->SetAxisMapping(1);
  device->SetStreamBones(true);
  device->SetStreamMarkers(true);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(5);
  device->SetUseTimecode(true);
  device->SetPaused(true);
  device->SetStripCharacterName(true);
  for (const auto& [key, value] : kDefaults) {
    if (key == "StripCharacterNameFromObjectName") continue;
    EXPECT_EQ(Stored(key), value) << key;
  }
  EXPECT_EQ(Stored("StripCharacterNameFromObjectName"), "1");
  EXPECT_TRUE(device->StripCharacterName());
  EXPECT_FALSE(device->StreamBones());
  EXPECT_FALSE(device->Paused());
  EXPECT_EQ(device->HostAddress(), "");
  EXPECT_EQ(device->HostPort(), "");
  EXPECT_STREQ(device->UnlabeledMarkerCountText(), "");
}

// Damaged settings files: cut at every line and byte of interest, or with
// lines garbled. None may crash the device; what could be understood is
// used; and the damaged file is kept aside before the device rewrites it.
TEST_F(SettingsTest, DamagedFilesNeverCrashOrLoseTheGoodSettings) {
  const std::string good =
      "[DataStream]\n"
      "HostAddress = \"capture-01\"\n"
      "HostPort = \"802\"\n"
      "AxisMapping = \"1\"\n"
      "StreamMarkers = \"1\"\n"
      "StreamUnlabeledMarkers = \"1\"\n"
      "UnlabeledMarkerCount = \"12\"\n"
      "StreamBones = \"1\"\n"
      "UseTimecode = \"0\"\n"
      "StripCharacterNameFromObjectName = \"1\"\n";
  std::vector<std::pair<std::string, std::string>> corpus;
  for (std::size_t cut = 0; cut < good.size(); cut += 7) {
    corpus.emplace_back("cut at " + std::to_string(cut), good.substr(0, cut));
  }
  const std::vector<std::pair<std::string, std::string>> garbles = {
      {"unclosed quote", "HostPort = \"802\n"},
      {"no equals", "HostPort \"802\"\n"},
      {"bad escape", "HostPort = \"8\\q02\"\n"},
      {"binary", std::string("HostPort = \"8\0\xff", 16) + "\"\n"},
      {"unclosed section", "[DataStream\n"},
  };
  for (const auto& [name, line] : garbles) {
    std::string damaged = good;
    damaged.replace(damaged.find("HostPort"),
                    damaged.find('\n', damaged.find("HostPort")) - damaged.find("HostPort") + 1,
                    line);
    corpus.emplace_back(name, damaged);
  }
  corpus.emplace_back("empty", "");
  corpus.emplace_back("not a settings file", std::string(3000, '\x07'));

  for (const auto& [name, text] : corpus) {
    SCOPED_TRACE(name);
    fbhost::ResetScene();
    for (const auto& entry : fs::directory_iterator(mConfig.path())) fs::remove(entry.path());
    {
      std::ofstream out(FilePath(), std::ios::binary);
      out << text;
    }
    OrbelSimpleDeviceOptical* device = PlainDevice();
    ASSERT_NE(device, nullptr);
    // Every key is present and readable afterwards.
    for (const auto& [key, value] : kDefaults) EXPECT_NE(Stored(key), "<missing>") << key;
    // A key the damaged file still held intact keeps its value.
    if (text.find("UnlabeledMarkerCount = \"12\"\n") != std::string::npos) {
      EXPECT_STREQ(device->UnlabeledMarkerCountText(), "12");
    }
    if (text.find("StreamBones = \"1\"\n") != std::string::npos) {
      EXPECT_TRUE(device->StreamBones());
    }
    // Nothing of the damaged file is lost: a file with bad lines is kept
    // whole beside the rewritten one.
    bool kept = false;
    for (const auto& entry : fs::directory_iterator(mConfig.path())) {
      if (entry.path().filename().string().rfind("OrbelOpticalDevice.txt.corrupt", 0) != 0) {
        continue;
      }
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream copy;
      copy << in.rdbuf();
      kept = kept || copy.str() == text;
    }
    const bool garbled = name.find("cut at") == std::string::npos && name != "empty";
    if (garbled) {
      EXPECT_TRUE(kept);
    }
  }
}

}  // namespace
}  // namespace orbel::device_testing
