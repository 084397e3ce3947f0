// Scene storage: the fields the device writes into a saved scene, what it
// reads back, and whole scenes saved and loaded through the host.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fbhost/fieldstore.h>
#include <fbhost/scenefile.h>
#include <fbsdk/fbfbxobject.h>

#include "device_fixture.h"

namespace orbel::device_testing {
namespace {

namespace fs = std::filesystem;
using fbhost::Field;
using fbhost::FieldValue;

const Field* FindField(const std::vector<Field>& fields, const std::string& name) {
  for (const Field& field : fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

std::vector<std::string> Texts(const Field& field) {
  std::vector<std::string> texts;
  for (const FieldValue& value : field.values) texts.push_back(value.text);
  return texts;
}

class StorageTest : public DeviceTest {
 protected:
  std::vector<Field> Store(OrbelSimpleDeviceOptical* device, int phase = kFbxStoreFields) {
    FBFbxObject store;
    EXPECT_TRUE(device->FbxStore(&store, static_cast<kFbxObjectStore>(phase)));
    return fbhost::FieldsOf(store);
  }
  OrbelSimpleDeviceOptical* PlainDevice() {
    return AsOrbelDevice(fbhost::AddDevice("Orbel Stream Device"));
  }
  std::string ScenePath(const char* name) const { return mConfig.path() + "/" + name; }
};

// Before any connection: the address, port and count, an empty model name,
// and empty description fields, in their order.
TEST_F(StorageTest, NeverConnectedDeviceStoresItsAddressAndNothingElse) {
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  const std::vector<Field> fields = Store(device);
  std::vector<std::string> names;
  for (const Field& field : fields) names.push_back(field.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"NetworkAddress", "NetworkPort", "UnlabeledMarkerCount",
                                      "ModelName", "SubjectNames", "Bones", "Markers"}));
  EXPECT_EQ(Texts(fields[0]), std::vector<std::string>{"localhost"});
  EXPECT_EQ(Texts(fields[1]), std::vector<std::string>{"801"});
  EXPECT_EQ(Texts(fields[2]), std::vector<std::string>{"100"});
  EXPECT_EQ(Texts(fields[3]), std::vector<std::string>{""});
  for (std::size_t i = 4; i < fields.size(); ++i) EXPECT_TRUE(fields[i].values.empty());
  EXPECT_EQ(device->Status.Get(), "Saving the device information");
}

// A store before any initialise (no root template yet) writes an empty
// model name.
TEST_F(StorageTest, StoreBeforeInitialiseWritesAnEmptyModelName) {
  auto* device = new OrbelSimpleDeviceOptical("Early");
  device->mAllocated = true;
  ASSERT_TRUE(device->FBCreate());
  const std::vector<Field> fields = Store(device);
  ASSERT_NE(FindField(fields, "ModelName"), nullptr);
  EXPECT_EQ(Texts(*FindField(fields, "ModelName")), std::vector<std::string>{""});
  device->FBDelete();
}

// Outside the fields phase the device writes and reads nothing, and only
// the host's base operation runs.
TEST_F(StorageTest, OtherPhasesTouchNoField) {
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  for (int phase : {kFbxStoreAttributes, kFbxStoreCleanup}) {
    EXPECT_TRUE(Store(device, phase).empty()) << phase;
    FBFbxObject store;
    fbhost::SetFields(store, {Field{"NetworkAddress", {FieldValue::C("elsewhere")}},
                              Field{"SubjectNames", {FieldValue::C("Zed")}}});
    EXPECT_TRUE(device->FbxRetrieve(&store, static_cast<kFbxObjectStore>(phase)));
    EXPECT_EQ(device->HostAddress(), "localhost");
    EXPECT_FALSE(Access::RestoredFromScene(*device));
    EXPECT_TRUE(Access::Reader(*device)->subjectNames.empty());
  }
}

TEST_F(StorageTest, RetrieveWithoutAReaderReadsNothing) {
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  Access::DropReader(*device);
  FBFbxObject store;
  fbhost::SetFields(store, {Field{"ModelName", {FieldValue::C("Stage")}}});
  EXPECT_FALSE(device->FbxRetrieve(&store, kFbxStoreFields));
  EXPECT_FALSE(Access::RestoredFromScene(*device));
  EXPECT_EQ(Access::ModelName(*device), "");
}

struct RetrieveCase {
  const char* name;
  std::vector<Field> fields;
  const char* address;
  const char* count;
  const char* modelName;
  std::size_t segments;
  std::size_t markers;
};

void PrintTo(const RetrieveCase& c, std::ostream* out) { *out << c.name; }

class RetrieveTest : public StorageTest, public ::testing::WithParamInterface<RetrieveCase> {};

// What a retrieve makes of fields that are missing, short, of another kind
// or out of range.
TEST_P(RetrieveTest, ReadsWhatIsThere) {
  const RetrieveCase& c = GetParam();
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  FBFbxObject store;
  fbhost::SetFields(store, c.fields);
  EXPECT_TRUE(device->FbxRetrieve(&store, kFbxStoreFields));
  EXPECT_TRUE(Access::RestoredFromScene(*device));
  EXPECT_EQ(device->HostAddress(), c.address);
  EXPECT_STREQ(device->UnlabeledMarkerCountText(), c.count);
  EXPECT_EQ(Access::ModelName(*device), c.modelName);
  EXPECT_EQ(Access::Reader(*device)->segments.size(), c.segments);
  EXPECT_EQ(Access::Reader(*device)->markers.size(), c.markers);
}

Field Bones(int groups, int extra = 0) {
  Field field{"Bones", {}};
  for (int g = 0; g < groups; ++g) {
    const std::string key = "Bob:Bob_S" + std::to_string(g);
    for (const char* text : {key.c_str(), "Bob", "S", "Bob:Bob_S0"}) {
      field.values.push_back(FieldValue::C(text));
    }
    for (int i = 0; i < 6; ++i) field.values.push_back(FieldValue::D(i));
    field.values.push_back(FieldValue::I(g == 0 ? 1 : -4));
  }
  for (int i = 0; i < extra; ++i) field.values.push_back(FieldValue::D(0));
  return field;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RetrieveTest,
    ::testing::Values(
        // Missing one-value fields keep what the device holds; a missing
        // model name reads "OrbelOptical".
        RetrieveCase{"NothingStored", {}, "localhost", "100", "OrbelOptical", 0, 0},
        RetrieveCase{
            "TwentyThreeBoneValues", {Bones(2, 1)}, "localhost", "100", "OrbelOptical", 2, 0},
        RetrieveCase{"TenBoneValues",
                     {Field{"Bones", std::vector<FieldValue>(10)}},
                     "localhost",
                     "100",
                     "OrbelOptical",
                     0,
                     0},
        RetrieveCase{"NegativeCount",
                     {Field{"UnlabeledMarkerCount", {FieldValue::C("-7")}},
                      Field{"ModelName", {FieldValue::C("")}}},
                     "localhost",
                     "0",
                     "",
                     0,
                     0},
        RetrieveCase{"AbsurdCount",
                     {Field{"UnlabeledMarkerCount", {FieldValue::C("99999999999")}}},
                     "localhost",
                     "100000",
                     "OrbelOptical",
                     0,
                     0},
        // A value of another kind reads as a neutral value: an empty address.
        RetrieveCase{
            "AddressOfAnotherKind",
            {Field{"NetworkAddress", {FieldValue::D(1.5)}}, Field{"ModelName", {FieldValue::I(3)}}},
            "",
            "100",
            "",
            0,
            0},
        RetrieveCase{"MarkersWithShortTail",
                     {Field{"Markers",
                            {FieldValue::C("Bob:Bob_A"), FieldValue::C("Bob"), FieldValue::C("A"),
                             FieldValue::D(1), FieldValue::D(2), FieldValue::D(3),
                             FieldValue::C("Bob:Bob_B")}}},
                     "localhost",
                     "100",
                     "OrbelOptical",
                     0,
                     1}),
    [](const ::testing::TestParamInfo<RetrieveCase>& info) { return info.param.name; });

TEST_F(StorageTest, RetrievedBonesKeepEveryValue) {
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  FBFbxObject store;
  fbhost::SetFields(store, {Bones(2, 1)});
  ASSERT_TRUE(device->FbxRetrieve(&store, kFbxStoreFields));
  const auto& segments = Access::Reader(*device)->segments;
  ASSERT_EQ(segments.size(), 2u);
  const SegmentRecord& first = segments.at("Bob:Bob_S0");
  EXPECT_EQ(first.subject, "Bob");
  EXPECT_EQ(first.name, "S");
  EXPECT_EQ(first.parentKey, "Bob:Bob_S0");
  EXPECT_EQ(first.translation[2], 2.0);
  EXPECT_EQ(first.rotation[2], 5.0);
  EXPECT_TRUE(first.root);
  // A root value that is not positive reads as a non-root segment.
  EXPECT_FALSE(segments.at("Bob:Bob_S1").root);
}

// The retrieve writes the scene's count to the settings file, not the
// address or port.
TEST_F(StorageTest, RetrieveWritesOnlyTheCountToTheSettings) {
  OrbelSimpleDeviceOptical* device = PlainDevice();
  ASSERT_NE(device, nullptr);
  FBFbxObject store;
  fbhost::SetFields(store, {Field{"NetworkAddress", {FieldValue::C("capture-02")}},
                            Field{"NetworkPort", {FieldValue::C("900")}},
                            Field{"UnlabeledMarkerCount", {FieldValue::C("33")}}});
  ASSERT_TRUE(device->FbxRetrieve(&store, kFbxStoreFields));
  EXPECT_EQ(device->HostAddress(), "capture-02");
  EXPECT_EQ(device->HostPort(), "900");
  FBConfigFile file("@OrbelOpticalDevice.txt");
  EXPECT_STREQ(file.Get("DataStream", "UnlabeledMarkerCount", ""), "33");
  EXPECT_STREQ(file.Get("DataStream", "HostAddress", ""), "localhost");
  EXPECT_STREQ(file.Get("DataStream", "HostPort", ""), "801");
}

// A scene streamed from the server, saved, and loaded into a fresh host
// with the server gone: the same description comes back, the device builds
// its templates from it and finds its stored model; the first start after
// the load leaves live as it was, the next one sets it.
TEST_F(StorageTest, SavedSceneComesBackWithoutTheServer) {
  Serve("pose.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetStripCharacterName(true);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BindRoot(device));
  // One frame into the records, so that the last poses are not zero.
  OrbelDataReader& reader = *Access::Reader(*device);
  ASSERT_TRUE(reader.ReadFrame(FBTime()));
  const std::vector<FBString> subjects = reader.subjectNames;
  const auto segments = reader.segments;
  const auto markers = reader.markers;
  const std::vector<Field> stored = Store(device);
  ASSERT_EQ(Texts(*FindField(stored, "ModelName")), std::vector<std::string>{"Orbel"});

  const std::string path = ScenePath("take.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(path, &error)) << error;
  fbhost::ResetScene();
  mServer.Stop();

  ASSERT_TRUE(fbhost::LoadScene(path, &error)) << error;
  ASSERT_EQ(fbhost::Devices().size(), 1u);
  OrbelSimpleDeviceOptical* loaded = AsOrbelDevice(fbhost::Devices()[0]);
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(Access::RestoredFromScene(*loaded));
  OrbelDataReader& restored = *Access::Reader(*loaded);
  EXPECT_EQ(restored.subjectNames, subjects);
  ASSERT_EQ(restored.segments.size(), segments.size());
  for (const auto& [key, record] : segments) {
    SCOPED_TRACE(key.Buffer());
    const SegmentRecord& back = restored.segments.at(key);
    EXPECT_EQ(back.subject, record.subject);
    EXPECT_EQ(back.name, record.name);
    EXPECT_EQ(back.parentKey, record.parentKey);
    EXPECT_EQ(back.root, record.root);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(back.translation[i], record.translation[i]);
      EXPECT_EQ(back.rotation[i], record.rotation[i]);
    }
  }
  ASSERT_EQ(restored.markers.size(), markers.size());
  for (const auto& [key, record] : markers) {
    const MarkerRecord& back = restored.markers.at(key);
    EXPECT_EQ(back.subject, record.subject);
    EXPECT_EQ(back.name, record.name);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(back.position[i], record.position[i]);
  }

  // Templates from the restored description, below a root labelled with
  // the stored model name; the binding root is that model.
  FBModelTemplate* root = Access::RootTemplate(*loaded);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Prefix.Get(), "");
  EXPECT_EQ(root->GetLabelName(), "Orbel");
  EXPECT_EQ(ChildNames(*root), std::vector<std::string>{"RootNode"});
  EXPECT_EQ(ChildNames(*Access::SubjectTemplates(*loaded).at("Bob")),
            (std::vector<std::string>{"Bob:LFHD", "Bob:RFHD", "Bob:Hips"}));
  EXPECT_NE(loaded->ModelBindingRoot.Get(), nullptr);
  EXPECT_EQ(loaded->ModelBindingRoot.Get(), FBFindModelByLabelName("Orbel"));

  // Back on line (the server on a new port).
  Serve("pose.json");
  loaded->SetHostPort(std::to_string(mServer.port()).c_str());
  loaded->Live = false;
  ASSERT_TRUE(GoOnline(loaded));
  EXPECT_FALSE(loaded->Live.Get());
  EXPECT_FALSE(Access::RestoredFromScene(*loaded));
  ASSERT_TRUE(fbhost::SetDeviceOnline(loaded, false));
  ASSERT_TRUE(GoOnline(loaded));
  EXPECT_TRUE(loaded->Live.Get());
}

// A corpus of damaged scene files: each is refused with a message and the
// scene stays as it was, or, when the damage still makes a valid file, the
// device loads what it holds without crashing. The good file on disk is
// never changed by a load.
TEST_F(StorageTest, DamagedScenesNeverCrashOrChangeTheGoodFile) {
  Serve("alice_bob.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BindRoot(device));
  const std::string good = ScenePath("good.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(good, &error)) << error;
  std::string text;
  {
    std::ifstream in(good, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  mServer.Stop();

  std::vector<std::string> lines;
  {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  std::vector<std::pair<std::string, std::string>> corpus;
  for (std::size_t n = 0; n < lines.size(); n += 3) {
    std::string cut;
    for (std::size_t i = 0; i < n; ++i) cut += lines[i] + "\n";
    corpus.emplace_back("first " + std::to_string(n) + " lines", cut);
  }
  const std::vector<std::pair<std::string, std::string>> replacements = {
      {"C \"100\"", "C \"-2147483648\""},
      {"C \"100\"", "C \"77777777777777777777\""},
      {"C \"100\"", "D 100"},
      {"C \"Bob\"", "I 7"},
      {"I 1", "I -1"},
      {"I 1", "C \"1\""},
      {"D 0", "D nan"},
      {"D 0", "D 1e309"},
      {"field \"Bones\" 22", "field \"Bones\" 21"},
      {"field \"Bones\" 22", "field \"Bones\" -5"},
      {"field \"SubjectNames\" 2", "field \"SubjectNames\" 0"},
      {"field \"Markers\" 12", "field \"Markers\" 12000000000"},
      {"fields 7", "fields 6"},
      {"orbel-scene 2", "orbel-scene 3"},
      {"\"OrbelDeviceOptical\"", "\"SomeoneElsesDevice\""},
  };
  for (const auto& [from, to] : replacements) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) {
      ADD_FAILURE() << "the saved scene has no '" << from << "'";
      continue;
    }
    std::string mutated = text;
    mutated.replace(at, from.size(), to);
    corpus.emplace_back("'" + from + "' as '" + to + "'", mutated);
  }
  corpus.emplace_back("not a scene file", "[DataStream]\nHostPort = \"801\"\n");

  int accepted = 0;
  for (const auto& [name, damaged] : corpus) {
    SCOPED_TRACE(name);
    fbhost::ResetScene();
    auto* marker = new FBModelNull("Before:Load");
    const std::string path = ScenePath("damaged.orbs");
    {
      std::ofstream out(path, std::ios::binary);
      out << damaged;
    }
    std::string loadError;
    const bool loadedOk = fbhost::LoadScene(path, &loadError);
    if (!loadedOk) {
      EXPECT_FALSE(loadError.empty());
      EXPECT_EQ(fbhost::SceneModels(), std::vector<FBModel*>{marker});
      continue;
    }
    ++accepted;
    for (FBDevice* loaded : fbhost::Devices()) {
      OrbelSimpleDeviceOptical* orbel = AsOrbelDevice(loaded);
      if (orbel == nullptr) continue;
      const int count = std::atoi(orbel->UnlabeledMarkerCountText());
      EXPECT_GE(count, 0);
      EXPECT_LE(count, OrbelDataReader::kMaxUnlabeledMarkerCount);
    }
  }
  // Damage that still makes a valid file reaches the device.
  EXPECT_GT(accepted, 0);
  std::ifstream in(good, std::ios::binary);
  std::stringstream after;
  after << in.rdbuf();
  EXPECT_EQ(after.str(), text);
}

}  // namespace
}  // namespace orbel::device_testing
