// The panel as it opens: what every control shows for the device's options,
// where every region lands, and what the panel is to the host.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fbhost/components.h>
#include <fbhost/registry.h>
#include <fbrender/panel_picture.h>
#include <fbsdk/fbregistry.h>

#include "orbel_registration.h"
#include "panel_fixture.h"

namespace orbel_layout_test {
namespace {

// ---- what the default panel shows, and where ----

// The whole default page as the host draws it: a control moved, resized,
// of another kind or showing another caption, text or choice changes the
// picture. After a deliberate change write a new one: ORBEL_WRITE_GOLDEN=1.
TEST_F(PanelTest, TheDefaultPageDrawsAsItsGoldenPicture) {
  AddDeviceAndOpenPanel();
  const std::string path = std::string(ORBEL_GOLDEN_DIR) + "/panel-default.svg";
  const std::string svg = fbrender::PanelSvg(*mPanel);
  if (std::getenv("ORBEL_WRITE_GOLDEN") != nullptr) std::ofstream(path) << svg;
  std::ostringstream golden;
  golden << std::ifstream(path).rdbuf();
  EXPECT_EQ(svg, golden.str()) << "differs from " << path;
}

TEST_F(PanelTest, OptionBoxesAreClearCheckBoxesAndTheCommandsPushButtons) {
  AddDeviceAndOpenPanel();
  for (const char* box :
       {"ButtonEnableBones", "ButtonEnableMarkers", "ButtonEnableUnlabeledMarkers",
        "ButtonEnableStripCharName", "ButtonEnableTimecode"}) {
    SCOPED_TRACE(box);
    EXPECT_EQ(ControlIn<FBButton>(box).Style.Get(), kFBCheckbox);
    EXPECT_EQ(State(box), 0);
  }
  for (const char* button : {"ButtonPause", "ButtonReset"}) {
    SCOPED_TRACE(button);
    EXPECT_EQ(ControlIn<FBButton>(button).Style.Get(), kFBPushButton);
  }
  // The list's items carry the axis mapping values the device takes.
  auto& list = ControlIn<FBList>("mListAxisMapping");
  ASSERT_EQ(list.Items.GetCount(), 2);
  EXPECT_EQ(list.Items.GetAt(1).str(), "Z-Up");
  EXPECT_EQ(list.Items.GetReferenceAt(0), 0);
  EXPECT_EQ(list.Items.GetReferenceAt(1), 1);
}

// How far a caption of `text` reaches at the pictures' 6 pixels a character.
int TextWidth(const std::string& text) {
  int width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 6 : 0;
  return width;
}

// The part of the page a control takes: a label only as far as its caption
// reaches (the indented count label runs under its edit, its caption does
// not), every other control its whole rectangle.
std::vector<int> Taken(const fbhost::PanelRegion& r) {
  const auto* label = dynamic_cast<FBLabel*>(r.control);
  const int width = label != nullptr ? TextWidth(label->Caption.Get().str()) : r.width;
  return {r.localX, r.localY, r.localX + width, r.localY + r.height};
}

TEST_F(PanelTest, ControlsSitOnThePageInReadingOrderApartWithCaptionsThatFit) {
  AddDeviceAndOpenPanel();
  fbhost::PanelRegion main;
  ASSERT_TRUE(mPanel->FindRegion("MainLayout", &main));
  std::vector<fbhost::PanelRegion> rows;
  for (const auto& region : mPanel->Regions())
    if (region.depth == 1) rows.push_back(region);
  ASSERT_EQ(rows.size(), 16u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const fbhost::PanelRegion& r = rows[i];
    SCOPED_TRACE(r.name);
    EXPECT_TRUE(r.error.empty()) << r.error;
    ASSERT_NE(r.control, nullptr);
    const std::vector<int> taken = Taken(r);
    EXPECT_TRUE(r.localX >= 0 && r.localY >= 0 && r.localX + r.width <= main.width &&
                taken[2] <= main.width && taken[3] <= main.height);
    EXPECT_EQ(r.x, main.x + r.localX);
    EXPECT_EQ(r.y, main.y + r.localY);
    if (auto* button = dynamic_cast<FBButton*>(r.control)) {
      // A check box's caption follows its 9-pixel box and a 5-pixel gap.
      const int margin = button->Style.Get() == kFBCheckbox ? 14 : 6;
      EXPECT_LE(TextWidth(button->Caption.Get().str()) + margin, r.width);
    }
    if (i == 0) continue;
    const fbhost::PanelRegion& before = rows[i - 1];
    EXPECT_TRUE(r.localY > before.localY ||
                (r.localY == before.localY && r.localX >= Taken(before)[2]))
        << "comes before " << before.name;
    for (std::size_t j = 0; j < i; ++j) {
      const std::vector<int> other = Taken(rows[j]);
      EXPECT_TRUE(taken[2] <= other[0] || other[2] <= taken[0] || taken[3] <= other[1] ||
                  other[3] <= taken[1])
          << "overlaps " << rows[j].name;
    }
  }
}

// ---- the device's options at opening ----

struct OpeningCase {
  const char* name;
  const char* key;  // written to the settings file before the device is added
  const char* value;
  const char* region;
  int state;           // expected check box state, or -1 for the list
  const char* chosen;  // expected list item
};

class PanelOpeningTest : public PanelTest, public ::testing::WithParamInterface<OpeningCase> {};

TEST_P(PanelOpeningTest, ShowsTheDeviceOptions) {
  const OpeningCase& c = GetParam();
  WriteSetting(c.key, c.value);
  AddDeviceAndOpenPanel();
  if (c.state >= 0) {
    EXPECT_EQ(State(c.region), c.state);
  } else {
    auto& list = ControlIn<FBList>(c.region);
    EXPECT_EQ(list.Items.GetAt(list.ItemIndex).str(), c.chosen);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, PanelOpeningTest,
    ::testing::Values(OpeningCase{"ZUp", "AxisMapping", "1", "mListAxisMapping", -1, "Z-Up"},
                      OpeningCase{"YUp", "AxisMapping", "0", "mListAxisMapping", -1, "Y-Up"},
                      OpeningCase{"Bones", "StreamBones", "1", "ButtonEnableBones", 1, ""},
                      OpeningCase{"Markers", "StreamMarkers", "1", "ButtonEnableMarkers", 1, ""},
                      OpeningCase{"Unlabeled", "StreamUnlabeledMarkers", " 7",
                                  "ButtonEnableUnlabeledMarkers", 1, ""},
                      OpeningCase{"Strip", "StripCharacterNameFromObjectName", "1",
                                  "ButtonEnableStripCharName", 1, ""},
                      OpeningCase{"Timecode", "UseTimecode", "1", "ButtonEnableTimecode", 1, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PanelTest, AnAxisMappingOutsideTheListShowsAsZUpAndIsKeptAsOne) {
  // The reader already treats it as "Z-Up"; opening the panel must not turn
  // the device to "Y-Up" behind the user's back.
  WriteSetting("AxisMapping", "7");
  AddDeviceAndOpenPanel();
  auto& list = ControlIn<FBList>("mListAxisMapping");
  EXPECT_EQ(list.Items.GetAt(list.ItemIndex).str(), "Z-Up");
  EXPECT_EQ(mDevice->AxisMapping(), 1);
  EXPECT_EQ(Setting("AxisMapping"), "1");
}

TEST_F(PanelTest, OpeningWritesTheAxisChoiceToTheSettingsFile) {
  WriteSetting("AxisMapping", "1");
  AddDeviceAndOpenPanel();
  EXPECT_EQ(mDevice->AxisMapping(), 1);
  EXPECT_EQ(Setting("AxisMapping"), "1");
}

TEST_F(PanelTest, APanelOpenedWhilePausedOffersToResume) {
  AddDeviceAndOpenPanel();
  mPanel.reset();
  mDevice->SetPaused(true);
  OpenPanel();
  EXPECT_EQ(Caption("ButtonPause"), "Resume Live Streaming");
  // The first click resumes.
  Click("ButtonPause");
  EXPECT_EQ(Caption("ButtonPause"), "Pause Live Streaming");
  EXPECT_FALSE(mDevice->Paused());
  EXPECT_FALSE(Reader().Paused());
}

TEST_F(PanelTest, ReopeningShowsWhatTheUserSet) {
  AddDeviceAndOpenPanel();
  Click("ButtonEnableMarkers");
  Type("EditUnlabeledMarkerCount", "42");
  Choose("mListAxisMapping", "Z-Up");
  mPanel.reset();
  OpenPanel();
  EXPECT_EQ(State("ButtonEnableMarkers"), 1);
  EXPECT_EQ(EditText("EditUnlabeledMarkerCount"), "42");
  auto& list = ControlIn<FBList>("mListAxisMapping");
  EXPECT_EQ(list.Items.GetAt(list.ItemIndex).str(), "Z-Up");
}

// ---- what the panel is to the host ----

TEST_F(PanelTest, AnswersItsClassAndTypes) {
  AddDeviceAndOpenPanel();
  FBLayout* layout = mPanel->Layout();
  ASSERT_NE(layout, nullptr);
  EXPECT_STREQ(layout->ClassName(), "OrbelDeviceOpticalLayout");
  EXPECT_EQ(layout->GetTypeId(), gOrbelLayoutTypeInfo);
  for (int type : {gOrbelLayoutTypeInfo, FBDeviceLayout::TypeInfo, FBLayout::TypeInfo,
                   FBVisualComponent::TypeInfo, FBComponent::TypeInfo, FBPlug::TypeInfo}) {
    EXPECT_TRUE(layout->Is(type)) << type;
  }
  for (int type : {gOrbelDeviceTypeInfo, FBDevice::TypeInfo, FBButton::TypeInfo}) {
    EXPECT_FALSE(layout->Is(type)) << type;
  }
}

TEST_F(PanelTest, ClosingThePanelLetsGoOfTheIdleEventAndTheDevice) {
  AddDeviceAndOpenPanel();
  mPanel.reset();
  const int idleBefore = fbhost::UIIdleHandlerCount();
  const int stateBefore = mDevice->OnStateChange.GetCount();
  OpenPanel();
  EXPECT_EQ(fbhost::UIIdleHandlerCount(), idleBefore + 1);
  EXPECT_EQ(mDevice->OnStateChange.GetCount(), stateBefore + 1);
  mPanel.reset();
  EXPECT_EQ(fbhost::UIIdleHandlerCount(), idleBefore);
  EXPECT_EQ(mDevice->OnStateChange.GetCount(), stateBefore);
  // The device's state changes and idle ticks after closing reach nothing.
  mDevice->Live = true;
  mDevice->Live = false;
  fbhost::RaiseUIIdle();
}

TEST_F(PanelTest, TheFactoryMakesNoPanelForAnythingButTheDevice) {
  AddDeviceAndOpenPanel();
  // No object at all, and an object of another class (a control).
  FBButton stranger;
  const auto componentsBefore = fbhost::LiveComponentCount();
  for (void* data : {static_cast<void*>(nullptr), stranger.GetHIObject()}) {
    EXPECT_EQ(OrbelLayoutFactory(nullptr, nullptr, data), nullptr);
  }
  EXPECT_EQ(fbhost::LiveComponentCount(), componentsBefore);
  // The device's own handle makes a panel.
  HIObject handle = OrbelLayoutFactory(nullptr, nullptr, mDevice->GetHIObject());
  ASSERT_NE(handle, nullptr);
  FBComponent* made = FBGetFBObject(handle);
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->Is(gOrbelLayoutTypeInfo));
  made->FBDelete();
  EXPECT_EQ(fbhost::LiveComponentCount(), componentsBefore);
}

}  // namespace
}  // namespace orbel_layout_test
