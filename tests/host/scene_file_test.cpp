// Scene files: a scene saved and loaded comes back bit for bit, devices are
// made again through their storable factory, handed their fields and then
// initialised; and a damaged file is refused with the line that is wrong,
// leaving the scene as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fbhost/config.h"
#include "fbhost/devices.h"
#include "fbhost/fieldstore.h"
#include "fbhost/messages.h"
#include "fbhost/scene.h"
#include "fbhost/scenefile.h"
#include "fbsdk/fbdevice.h"
#include "fbsdk/fbfbxobject.h"
#include "fbsdk/fbmodel.h"
#include "fbsdk/fbregistry.h"
#include "test_folder.h"

namespace {

using fbhost::Field;
using fbhost::FieldValue;

constexpr const char* kClass = "StoringDevice";
constexpr const char* kBrokenClass = "BrokenStoringDevice";

// A device that stores what the test gives it and records what it is given
// back, the phases, and what it found when it was initialised.
class StoringDevice : public FBDevice {
 public:
  explicit StoringDevice(const char* name) : FBDevice(name) {}

  bool FbxStore(FBFbxObject* store, kFbxObjectStore phase) noexcept override {
    storePhases.push_back(phase);
    if (phase & kFbxStoreFields) {
      store->FieldWriteC("ModelName", modelName.c_str());
      for (const Field& field : toStore) {
        store->FieldWriteBegin(field.name.c_str());
        for (const FieldValue& v : field.values) {
          switch (v.kind) {
            case FieldValue::Kind::Text:
              store->FieldWriteC(v.text.c_str());
              break;
            case FieldValue::Kind::Double:
              store->FieldWriteD(v.number);
              break;
            case FieldValue::Kind::Integer:
              store->FieldWriteI(v.integer);
              break;
          }
        }
        store->FieldWriteEnd();
      }
    }
    return FBDevice::FbxStore(store, phase);
  }

  bool FbxRetrieve(FBFbxObject* store, kFbxObjectStore phase) noexcept override {
    retrievePhases.push_back(phase);
    retrievingStatus = GetObjectStatus(kFBStatusRetrieving);
    if (phase & kFbxStoreFields) {
      retrieved = fbhost::FieldsOf(*store);
      modelName = store->FieldReadC("ModelName");
      // Keep the rest, so that the device stores it again.
      toStore.assign(retrieved.begin() + (retrieved.empty() ? 0 : 1), retrieved.end());
    }
    return FBDevice::FbxRetrieve(store, phase);
  }

  bool DeviceOperation(int operation) noexcept override {
    if (operation == kFBDeviceInitialize) {
      ++initialisations;
      initialisedAfterRetrieve = !retrievePhases.empty();
      boundModel = modelName.empty() ? nullptr : FBFindModelByLabelName(modelName.c_str());
      return true;
    }
    return FBDevice::DeviceOperation(operation);
  }

  std::string modelName;
  std::vector<Field> toStore;
  std::vector<Field> retrieved;
  std::vector<int> storePhases;
  std::vector<int> retrievePhases;
  bool retrievingStatus = false;
  int initialisations = 0;
  bool initialisedAfterRetrieve = false;
  FBModel* boundModel = nullptr;
};

HIObject StoringFactory(HIObject, const char* name, void*) {
  auto* device = new StoringDevice(name ? name : kClass);
  device->mAllocated = true;
  device->mRegisteredClassName = kClass;
  return device->GetHIObject();
}

HIObject BrokenFactory(HIObject, const char*, void*) { return nullptr; }

std::vector<std::string> Labels() {
  std::vector<std::string> labels;
  for (FBModel* m : fbhost::SceneModels()) labels.push_back(m->GetLabelName().str());
  return labels;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void ExpectSameFields(const std::vector<Field>& got, const std::vector<Field>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t f = 0; f < want.size(); ++f) {
    SCOPED_TRACE(want[f].name);
    EXPECT_EQ(got[f].name, want[f].name);
    ASSERT_EQ(got[f].values.size(), want[f].values.size());
    for (std::size_t v = 0; v < want[f].values.size(); ++v) {
      const FieldValue &a = got[f].values[v], &b = want[f].values[v];
      EXPECT_EQ(a.kind, b.kind) << "value " << v;
      EXPECT_EQ(a.text, b.text);
      EXPECT_TRUE(SameBits(a.number, b.number)) << a.number << " vs " << b.number;
      EXPECT_EQ(a.integer, b.integer);
    }
  }
}

class SceneFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FBObject_Register("FbxStorable/Device", kClass, "test", StoringFactory, true, "");
    FBObject_Register("Boxes/Devices", kClass, "test", StoringFactory, true, "");
    FBObject_Register("FbxStorable/Device", kBrokenClass, "test", BrokenFactory, true, "");
  }
  void SetUp() override {
    fbhost::SetMessageEcho(false);
    fbhost::ResetScene();
  }
  void TearDown() override {
    fbhost::ResetScene();
    fbhost::SetBeforeRenameHook(nullptr);
    fbhost::SetMessageEcho(true);
  }
  std::string Path(const std::string& name) const { return mFolder.path() + "/" + name; }

  // Two characters' worth of models and two devices with awkward values.
  void BuildScene() {
    auto* root = new FBModelRoot("Orbel");
    auto* bob = new FBModelNull("Bob:RootNode");
    auto* hips = new FBModelSkeleton("Bob:Bob_Hips");
    auto* spine = new FBModelSkeleton("Bob:Bob_Spine");
    auto* marker = new FBModelMarker("Bob:LFHD");
    auto* loose = new FBModel("Loose \"quoted\" model");
    for (FBModel* m :
         {static_cast<FBModel*>(root), static_cast<FBModel*>(bob), static_cast<FBModel*>(hips),
          static_cast<FBModel*>(spine), static_cast<FBModel*>(marker), loose}) {
      m->mAllocated = true;
    }
    root->Children.Add(bob);
    bob->Children.Add(hips);
    hips->Children.Add(spine);
    bob->Children.Add(marker);
    hips->Show = true;
    marker->Show = true;
    marker->Color = FBColor(0.3, 0.9, 1.0);
    marker->ShadingMode = kFBModelShadingWire;
    hips->Translation = FBVector3<double>(0.1, -0.0, 1e-300);
    hips->Rotation = FBVector3<double>(179.99999999999997, -90.0, 1.0 / 3.0);
    spine->Translation = FBVector3<double>(std::numeric_limits<double>::max(),
                                           std::numeric_limits<double>::denorm_min(), 12.5);

    std::string error;
    first = static_cast<StoringDevice*>(fbhost::AddDevice(kClass, &error));
    second = static_cast<StoringDevice*>(fbhost::AddDevice(kClass, &error));
    ASSERT_NE(first, nullptr) << error;
    ASSERT_NE(second, nullptr) << error;
    second->Name = "Second";
    first->modelName = "Orbel";
    first->toStore = {
        {"NetworkAddress", {FieldValue::C("localhost")}},
        {"SubjectNames", {FieldValue::C("Bob"), FieldValue::C("Alice")}},
        {"Bones",
         {FieldValue::C("Bob:Bob_Hips"), FieldValue::C("Bob"), FieldValue::C("Hips"),
          FieldValue::C(""), FieldValue::D(0.1), FieldValue::D(-0.0), FieldValue::D(1e-300),
          FieldValue::D(std::numeric_limits<double>::infinity()), FieldValue::D(-2.5e-320),
          FieldValue::D(123456789.123456789), FieldValue::I(1)}},
        {"Markers", {}},
        {"Odd texts",
         {FieldValue::C("line\nbreak \"q\" back\\slash \x01 caf\xc3\xa9"),
          FieldValue::I(std::numeric_limits<int>::min()),
          FieldValue::I(std::numeric_limits<int>::max())}}};
    second->toStore = {{"NetworkAddress", {FieldValue::C("10.0.0.1")}}};
  }

  TestFolder mFolder;
  StoringDevice* first = nullptr;
  StoringDevice* second = nullptr;
};

TEST_F(SceneFileTest, ASavedSceneLoadsBackBitForBit) {
  BuildScene();
  const std::string path = Path("scene.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(path, &error)) << error;
  EXPECT_EQ(first->storePhases,
            (std::vector<int>{kFbxStoreAttributes, kFbxStoreFields, kFbxStoreCleanup}));
  const std::vector<Field> firstFields = [&] {
    std::vector<Field> f = {{"ModelName", {FieldValue::C("Orbel")}}};
    f.insert(f.end(), first->toStore.begin(), first->toStore.end());
    return f;
  }();

  fbhost::ResetScene();
  EXPECT_TRUE(fbhost::SceneModels().empty());
  ASSERT_TRUE(fbhost::LoadScene(path, &error)) << error;

  // Models: the same kinds, labels, parents, flags and exact values.
  const std::vector<FBModel*> models = fbhost::SceneModels();
  ASSERT_EQ(Labels(),
            (std::vector<std::string>{"Orbel", "Bob:RootNode", "Bob:Bob_Hips", "Bob:Bob_Spine",
                                      "Bob:LFHD", "Loose \"quoted\" model"}));
  EXPECT_TRUE(models[0]->Is(FBModelRoot::TypeInfo));
  EXPECT_TRUE(models[1]->Is(FBModelNull::TypeInfo));
  EXPECT_TRUE(models[2]->Is(FBModelSkeleton::TypeInfo));
  EXPECT_TRUE(models[4]->Is(FBModelMarker::TypeInfo));
  EXPECT_FALSE(models[5]->Is(FBModelNull::TypeInfo));
  EXPECT_EQ(models[1]->GetParent(), models[0]);
  EXPECT_EQ(models[3]->GetParent(), models[2]);
  EXPECT_EQ(models[4]->GetParent(), models[1]);
  EXPECT_EQ(models[5]->GetParent(), nullptr);
  EXPECT_EQ(models[1]->Children.Find(models[2]), 0);
  EXPECT_EQ(models[1]->Children.Find(models[4]), 1);
  EXPECT_TRUE(models[2]->Show.Get());
  EXPECT_FALSE(models[0]->Show.Get());
  const auto colour = static_cast<FBModelMarker*>(models[4])->Color.Get();
  EXPECT_TRUE(SameBits(colour[0], 0.3) && SameBits(colour[1], 0.9) && SameBits(colour[2], 1.0));
  EXPECT_EQ(models[4]->ShadingMode.Get(), kFBModelShadingWire);
  const auto t = models[2]->Translation.Get(), r = models[2]->Rotation.Get();
  EXPECT_TRUE(SameBits(t[0], 0.1) && SameBits(t[1], -0.0) && SameBits(t[2], 1e-300));
  EXPECT_TRUE(SameBits(r[0], 179.99999999999997) && SameBits(r[2], 1.0 / 3.0));
  EXPECT_TRUE(SameBits(models[3]->Translation.Get()[1], std::numeric_limits<double>::denorm_min()));

  // Devices: made again in order, given their fields, then initialised.
  const std::vector<FBDevice*> devices = fbhost::Devices();
  ASSERT_EQ(devices.size(), 2u);
  auto* a = static_cast<StoringDevice*>(devices[0]);
  auto* b = static_cast<StoringDevice*>(devices[1]);
  EXPECT_EQ(a->GetLabelName(), FBString(kClass));
  EXPECT_EQ(b->GetLabelName(), FBString("Second"));
  EXPECT_EQ(a->mRegisteredClassName, FBString(kClass));
  EXPECT_EQ(a->retrievePhases,
            (std::vector<int>{kFbxStoreAttributes, kFbxStoreFields, kFbxStoreCleanup}));
  EXPECT_TRUE(a->retrievingStatus);
  EXPECT_FALSE(a->GetObjectStatus(kFBStatusRetrieving));
  ExpectSameFields(a->retrieved, firstFields);
  EXPECT_EQ(b->retrieved.size(), 2u);
  EXPECT_EQ(a->initialisations, 1);
  EXPECT_TRUE(a->initialisedAfterRetrieve);
  EXPECT_EQ(a->boundModel, models[0]) << "the models are there before the devices start";

  // Saving what was loaded gives the same file again.
  const std::string again = Path("again.orbs");
  ASSERT_TRUE(fbhost::SaveScene(again, &error)) << error;
  EXPECT_EQ(ReadFile(again), ReadFile(path));
}

TEST_F(SceneFileTest, AnEmptySceneRoundTrips) {
  const std::string path = Path("empty.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(path, &error)) << error;
  EXPECT_TRUE(fbhost::CheckSceneFile(path, &error)) << error;
  ASSERT_TRUE(fbhost::LoadScene(path, &error)) << error;
  EXPECT_TRUE(fbhost::SceneModels().empty());
  EXPECT_TRUE(fbhost::Devices().empty());
}

TEST_F(SceneFileTest, AnInterruptedSaveKeepsTheOldFile) {
  BuildScene();
  const std::string path = Path("scene.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(path, &error)) << error;
  const std::string before = ReadFile(path);
  new FBModelNull("Added later");
  fbhost::SetBeforeRenameHook([](const std::string&, const std::string&) { return false; });
  EXPECT_FALSE(fbhost::SaveScene(path, &error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(ReadFile(path), before);
}

TEST_F(SceneFileTest, DevicesThatCannotBeMadeAgain) {
  BuildScene();
  second->mRegisteredClassName = "";
  const std::string path = Path("scene.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(path, &error)) << error;
  ASSERT_FALSE(fbhost::Messages().empty());
  EXPECT_NE(fbhost::Messages().back().text.find("'Second'"), std::string::npos);

  // A class whose factory makes nothing: the rest still loads, the answer says so.
  std::string text = ReadFile(path);
  const auto at = text.find("device 0 \"StoringDevice\"");
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, std::strlen("device 0 \"StoringDevice\""), "device 0 \"BrokenStoringDevice\"");
  WriteFile(path, text);
  EXPECT_FALSE(fbhost::LoadScene(path, &error));
  EXPECT_NE(error.find("made no device"), std::string::npos) << error;
  EXPECT_EQ(fbhost::SceneModels().size(), 6u);
  EXPECT_TRUE(fbhost::Devices().empty());
}

// ---- damaged files ----

struct Damage {
  const char* name;
  const char* find;     // the text to replace (first occurrence)
  const char* replace;  // its replacement
  const char* because;  // a piece of the error
};

class DamagedSceneTest : public SceneFileTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedSceneTest, IsRefusedWithItsLineAndChangesNothing) {
  BuildScene();
  const std::string path = Path("scene.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(path, &error)) << error;
  std::string text = ReadFile(path);
  const auto at = text.find(GetParam().find);
  ASSERT_NE(at, std::string::npos) << GetParam().find << "\n" << text;
  text.replace(at, std::strlen(GetParam().find), GetParam().replace);
  WriteFile(path, text);

  const auto labels = Labels();
  const auto devices = fbhost::Devices();
  EXPECT_FALSE(fbhost::CheckSceneFile(path, &error));
  EXPECT_FALSE(fbhost::LoadScene(path, &error));
  EXPECT_NE(error.find("'" + path + "'"), std::string::npos) << error;
  EXPECT_NE(error.find(GetParam().because), std::string::npos) << error;
  EXPECT_EQ(Labels(), labels);
  EXPECT_EQ(fbhost::Devices(), devices);
  EXPECT_EQ(first->initialisations, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DamagedSceneTest,
    ::testing::Values(
        Damage{"not_a_scene", "orbel-scene 2", "hello world", "not a scene file"},
        Damage{"newer_version", "orbel-scene 2", "orbel-scene 3", "version '3'"},
        Damage{"unknown_model_class", "Skeleton \"Bob:Bob_Hips\"", "Camera \"Bob:Bob_Hips\"",
               "unknown model class 'Camera'"},
        Damage{"parent_after_child", "\"Bob:RootNode\" parent 0", "\"Bob:RootNode\" parent 3",
               "line 5"},
        Damage{"model_count_too_high", "models 6", "models 7", "expected a 'model' line"},
        Damage{"model_count_too_low", "models 6", "models 5", "expected a 'devices' line"},
        Damage{"text_where_a_number_goes", "D 0.1\n", "D abc\n", "'abc'"},
        Damage{"number_where_a_text_goes", "C \"Hips\"", "C 7", "quoted"},
        Damage{"integer_too_large", "I 1\n", "I 2147483648\n", "32-bit"},
        Damage{"unknown_value_kind", "D 0.1\n", "F 0.1\n", "unknown value kind 'F'"},
        Damage{"value_count_too_high", "field \"Bones\" 11", "field \"Bones\" 12",
               "expected a value line"},
        Damage{"value_count_too_low", "field \"Bones\" 11", "field \"Bones\" 10",
               "expected a 'field' line"},
        Damage{"negative_count", "field \"Bones\" 11", "field \"Bones\" -1", "whole number"},
        Damage{"absurd_count", "field \"Bones\" 11", "field \"Bones\" 99999999999999",
               "whole number"},
        Damage{"unterminated_text", "C \"Bob\"", "C \"Bob", "closing quote"},
        Damage{"unknown_device_class", "\"StoringDevice\"", "\"NobodysDevice\"", "'NobodysDevice'"},
        Damage{"text_after_end", "end\n", "end\nmore\n", "nothing may follow 'end'"},
        Damage{"missing_end", "end\n", "", "ends early"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

TEST_F(SceneFileTest, EveryTruncationIsRefusedAndChangesNothing) {
  BuildScene();
  const std::string path = Path("scene.orbs");
  std::string error;
  ASSERT_TRUE(fbhost::SaveScene(path, &error)) << error;
  const std::string good = ReadFile(path);
  const auto labels = Labels();
  const std::string cut = Path("cut.orbs");
  // Cuts at, just before and in the middle of every line, up to the cut that
  // only loses the final line end.
  std::vector<std::size_t> cuts;
  for (std::size_t start = 0; start < good.size();) {
    const std::size_t end = good.find('\n', start);
    cuts.insert(cuts.end(), {start, start + (end - start) / 2, end});
    start = end + 1;
  }
  for (const std::size_t n : cuts) {
    if (n + 1 >= good.size()) continue;
    WriteFile(cut, good.substr(0, n));
    ASSERT_FALSE(fbhost::LoadScene(cut, &error)) << "prefix of " << n << " bytes";
    ASSERT_NE(error.find("'" + cut + "'"), std::string::npos) << error;
  }
  EXPECT_EQ(Labels(), labels);
  EXPECT_EQ(fbhost::Devices().size(), 2u);
  WriteFile(cut, good.substr(0, good.size() - 1));
  EXPECT_TRUE(fbhost::CheckSceneFile(cut, &error)) << error;
}

TEST_F(SceneFileTest, MissingFilesFoldersAndBinaryFilesAreRefused) {
  std::string error;
  WriteFile(Path("binary.orbs"), std::string("orbel-scene 1\nmodels 0\0\ndevices 0\nend\n", 38));
  EXPECT_FALSE(fbhost::LoadScene(Path("binary.orbs"), &error));
  EXPECT_NE(error.find("binary"), std::string::npos) << error;
  EXPECT_FALSE(fbhost::LoadScene(Path("none.orbs"), &error));
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
  EXPECT_FALSE(fbhost::LoadScene(mFolder.path(), &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

}  // namespace
