// Panels as a user meets them: opened for a device through the registry,
// acted on, drawn; and the events behind them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fbhost/idle.h"
#include "fbhost/messages.h"
#include "fbhost/panel.h"
#include "fbsdk/fbcontrols.h"
#include "fbsdk/fbdevice.h"
#include "fbsdk/fbevent.h"
#include "fbsdk/fblayout.h"
#include "fbsdk/fbregistry.h"
#include "fbsdk/fbsystem.h"
#include "png_reader.h"

namespace {

constexpr const char* kClass = "PanelTestDevice";

class PanelTestDevice : public FBDevice {
 public:
  explicit PanelTestDevice(const char* name) : FBDevice(name) {}
  std::string address = "localhost";
};

// A settings page with the rows of a real one: a tab strip and a main layout
// on the page, labels, edits, a list and buttons inside the main layout.
class PanelTestLayout : public FBDeviceLayout {
 public:
  explicit PanelTestLayout(FBDevice* device) : FBDeviceLayout(device) {}

  bool FBCreate() override {
    mDevice = static_cast<PanelTestDevice*>(Device.Get());
    const auto L = kFBAttachLeft, R = kFBAttachRight, T = kFBAttachTop, B = kFBAttachBottom,
               H = kFBAttachHeight, N = kFBAttachNone;
    AddRegion("TabPanel", "TabPanel", 5, L, "StandardParams", 1, 0, T, "StandardParams", 1, 0, R,
              "", 1, 25, N, "", 1);
    AddRegion("MainLayout", "MainLayout", 5, L, "TabPanel", 1, 5, B, "TabPanel", 1, -5, R,
              "TabPanel", 1, -5, B, "", 1);
    SetControl("TabPanel", mTabPanel);
    SetControl("MainLayout", mMainLayout);
    mMainLayout.AddRegion("LabelNetworkAddress", "LabelNetworkAddress", 4, L, "", 1, 4, T, "", 1,
                          100, N, "", 1, 18, N, "", 1);
    mMainLayout.AddRegion("EditNetworkAddress", "EditNetworkAddress", 4, R, "LabelNetworkAddress",
                          1, 0, T, "LabelNetworkAddress", 1, 150, N, "", 1, 0, H,
                          "LabelNetworkAddress", 1);
    mMainLayout.AddRegion("mLabelAxisMapping", "mLabelAxisMapping", 4, L, "", 1, 4, B,
                          "LabelNetworkAddress", 1, 100, N, "", 1, 0, H, "LabelNetworkAddress", 1);
    mMainLayout.AddRegion("mListAxisMapping", "mListAxisMapping", 4, R, "mLabelAxisMapping", 1, 0,
                          T, "mLabelAxisMapping", 1, 150, N, "", 1, 0, H, "mLabelAxisMapping", 1);
    mMainLayout.AddRegion("ButtonEnableBones", "ButtonEnableBones", 4, L, "", 1, 4, B,
                          "mLabelAxisMapping", 1, 100, N, "", 1, 0, H, "mListAxisMapping", 1);
    mMainLayout.AddRegion("ButtonEnableUnlabeledMarkers", "ButtonEnableUnlabeledMarkers", 4, L, "",
                          1, 4, B, "ButtonEnableBones", 1, 250, N, "", 2.0f, 0, H,
                          "ButtonEnableBones", 1);
    mMainLayout.AddRegion("ButtonPause", "ButtonPause", 4, L, "", 1, 9, B,
                          "ButtonEnableUnlabeledMarkers", 1, 253, N, "", 1, 0, H,
                          "ButtonEnableUnlabeledMarkers", 1);
    mMainLayout.SetControl("LabelNetworkAddress", mLabelNetworkAddress);
    mMainLayout.SetControl("EditNetworkAddress", mEditNetworkAddress);
    mMainLayout.SetControl("mLabelAxisMapping", mLabelAxisMapping);
    mMainLayout.SetControl("mListAxisMapping", mListAxisMapping);
    mMainLayout.SetControl("ButtonEnableBones", mButtonEnableBones);
    mMainLayout.SetControl("ButtonEnableUnlabeledMarkers", mButtonEnableUnlabeledMarkers);
    mMainLayout.SetControl("ButtonPause", mButtonPause);
    SetBorder("MainLayout", kFBStandardBorder, false, true, 1, 0, 90.0f, 0);

    mLabelNetworkAddress.Caption = "Server Address:";
    mEditNetworkAddress.Text = mDevice->address.c_str();
    mEditNetworkAddress.OnChange.Add(this, &PanelTestLayout::OnAddressChange);
    mLabelAxisMapping.Caption = "Coordinate Frame:";
    mListAxisMapping.Items.Add("Y-Up", 0);
    mListAxisMapping.Items.Add("Z-Up", 1);
    mListAxisMapping.OnChange.Add(this, &PanelTestLayout::OnAxisChange);
    mButtonEnableBones.Style = kFBCheckbox;
    mButtonEnableBones.Caption = "Stream Bones";
    mButtonEnableBones.OnClick.Add(this, &PanelTestLayout::OnBonesClick);
    mButtonEnableUnlabeledMarkers.Style = kFBCheckbox;
    mButtonEnableUnlabeledMarkers.Caption = "Stream <Unlabeled> & \"Markers\"";
    mButtonPause.Caption = "Pause Live Streaming";
    mButtonPause.OnClick.Add(this, &PanelTestLayout::OnPauseClick);
    mSystem.OnUIIdle.Add(this, &PanelTestLayout::IdleRefresh);
    mDevice->OnStateChange.Add(this, &PanelTestLayout::DeviceStateChanged);
    return true;
  }

  void FBDestroy() override {
    mSystem.OnUIIdle.Remove(this, &PanelTestLayout::IdleRefresh);
    mDevice->OnStateChange.Remove(this, &PanelTestLayout::DeviceStateChanged);
  }

  void OnAddressChange(HISender sender, HKEvent) {
    senders.push_back(sender);
    mDevice->address = mEditNetworkAddress.Text.Get().str();
  }
  void OnAxisChange(HISender, HKEvent) {
    axis = static_cast<int>(mListAxisMapping.Items.GetReferenceAt(mListAxisMapping.ItemIndex));
  }
  void OnBonesClick(HISender, HKEvent) { bonesStates.push_back(mButtonEnableBones.State); }
  void OnPauseClick(HISender, HKEvent) {
    ++pauseClicks;
    mButtonPause.Caption = "Resume Live Streaming";
  }
  void IdleRefresh(HISender, HKEvent) {
    ++idleCalls;
    const bool live = mDevice->Live;
    mButtonPause.Enabled = live;
  }
  void DeviceStateChanged(HISender, HKEvent) { ++stateChanges; }

  std::vector<HISender> senders;
  std::vector<int> bonesStates;
  int axis = -1;
  int pauseClicks = 0;
  int idleCalls = 0;
  int stateChanges = 0;

  FBTabPanel mTabPanel;
  FBLabel mLabelNetworkAddress;
  FBEdit mEditNetworkAddress;
  FBLayout mMainLayout;
  FBLabel mLabelAxisMapping;
  FBList mListAxisMapping;
  FBButton mButtonEnableBones;
  FBButton mButtonEnableUnlabeledMarkers;
  FBButton mButtonPause;
  FBSystem mSystem;
  PanelTestDevice* mDevice = nullptr;
};

HIObject PanelFactory(HIObject, const char*, void* data) {
  auto* device = static_cast<FBDevice*>(FBGetFBObject(data, false));
  auto* layout = new PanelTestLayout(device);
  layout->mAllocated = true;
  if (!layout->FBCreate()) {
    layout->FBDelete();
    return nullptr;
  }
  return layout->GetHIObject();
}

HIObject NoPanelFactory(HIObject, const char*, void*) { return nullptr; }

class PanelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FBObject_Register("UI_Associated_ClassName", kClass, "test panel", PanelFactory, true, "");
    FBObject_Register("UI_Associated_ClassName", "NoPanelDevice", "none", NoPanelFactory, true, "");
  }
  void SetUp() override {
    fbhost::SetMessageEcho(false);
    mDevice = new PanelTestDevice("Test Device");
    mDevice->mAllocated = true;
    mDevice->mRegisteredClassName = kClass;
    std::string error;
    mPanel = fbhost::Panel::Open(mDevice, &error);
    ASSERT_NE(mPanel, nullptr) << error;
    mLayout = static_cast<PanelTestLayout*>(mPanel->Layout());
  }
  void TearDown() override {
    mPanel.reset();
    if (mDevice != nullptr) mDevice->FBDelete();
    fbhost::SetMessageEcho(true);
  }
  fbhost::PanelRegion Region(const std::string& name) {
    fbhost::PanelRegion r;
    std::string error;
    EXPECT_TRUE(mPanel->FindRegion(name, &r, &error)) << error;
    return r;
  }

  PanelTestDevice* mDevice = nullptr;
  std::unique_ptr<fbhost::Panel> mPanel;
  PanelTestLayout* mLayout = nullptr;
};

TEST_F(PanelTest, RegionsFollowTheirAttachmentsAcrossNestedLayouts) {
  const auto tab = Region("TabPanel");
  EXPECT_EQ((std::vector<int>{tab.x, tab.y, tab.width, tab.height}),
            (std::vector<int>{5, 0, fbhost::kDefaultPanelWidth - 5, 25}));
  const auto main = Region("MainLayout");
  EXPECT_EQ(main.x, 10);
  EXPECT_EQ(main.y, 30);
  const auto label = Region("LabelNetworkAddress");
  const auto edit = Region("MainLayout/EditNetworkAddress");
  EXPECT_EQ(label.x, main.x + 4);
  EXPECT_EQ(label.y, main.y + 4);
  EXPECT_EQ(edit.x, label.x + label.width + 4);
  EXPECT_EQ(edit.y, label.y);
  EXPECT_EQ(edit.width, 150);
  EXPECT_EQ(edit.height, 18);
  EXPECT_EQ(edit.localX, 108);
  EXPECT_EQ(edit.kind, "Edit");
  EXPECT_EQ(edit.depth, 1);
  EXPECT_EQ(Region("ButtonEnableUnlabeledMarkers").width, 500);
  const auto standard = Region("StandardParams");
  EXPECT_EQ((std::vector<int>{standard.x, standard.y, standard.height}),
            (std::vector<int>{0, 0, 0}));

  std::string error;
  EXPECT_FALSE(mPanel->FindRegion("Nowhere", nullptr, &error));
  EXPECT_NE(error.find("'Nowhere'"), std::string::npos);
}

TEST_F(PanelTest, TypingCommitsTheTextThenRaisesTheChange) {
  std::string error;
  ASSERT_TRUE(mPanel->TypeText("EditNetworkAddress", "studio.local", &error)) << error;
  EXPECT_EQ(mDevice->address, "studio.local");
  ASSERT_EQ(mLayout->senders.size(), 1u);
  EXPECT_EQ(mLayout->senders[0], mLayout->mEditNetworkAddress.GetHIObject());
}

TEST_F(PanelTest, ClickingFollowsTheButtonStyle) {
  std::string error;
  ASSERT_TRUE(mPanel->Click("ButtonEnableBones", &error)) << error;
  ASSERT_TRUE(mPanel->Click("ButtonEnableBones", &error)) << error;
  EXPECT_EQ(mLayout->bonesStates, (std::vector<int>{1, 0}));
  ASSERT_TRUE(mPanel->Click("ButtonPause", &error)) << error;
  EXPECT_EQ(mLayout->pauseClicks, 1);
  EXPECT_EQ(mLayout->mButtonPause.State.Get(), 0) << "a push button keeps no state";
  // A check box without a handler still flips.
  ASSERT_TRUE(mPanel->Click("ButtonEnableUnlabeledMarkers", &error)) << error;
  EXPECT_EQ(mLayout->mButtonEnableUnlabeledMarkers.State.Get(), 1);
}

TEST_F(PanelTest, ChoosingAnItemSetsTheIndexThenRaisesTheChange) {
  std::string error;
  ASSERT_TRUE(mPanel->Choose("mListAxisMapping", "Z-Up", &error)) << error;
  EXPECT_EQ(mLayout->axis, 1);
  EXPECT_EQ(mLayout->mListAxisMapping.ItemIndex.Get(), 1);
  ASSERT_TRUE(mPanel->ChooseIndex("mListAxisMapping", 0, &error)) << error;
  EXPECT_EQ(mLayout->axis, 0);
  EXPECT_FALSE(mPanel->Choose("mListAxisMapping", "X-Up", &error));
  EXPECT_NE(error.find("\"Y-Up\", \"Z-Up\""), std::string::npos) << error;
  EXPECT_FALSE(mPanel->ChooseIndex("mListAxisMapping", 2, &error));
  EXPECT_EQ(mLayout->axis, 0);
}

struct RefusedAction {
  const char* name;
  const char* region;
  char action;  // 'T'ype, 'C'lick, 'S'elect
  const char* because;
};

class RefusedActionTest : public PanelTest, public ::testing::WithParamInterface<RefusedAction> {};

TEST_P(RefusedActionTest, ChangesNothingAndSaysWhy) {
  mLayout->mButtonPause.Enabled = false;
  mLayout->mMainLayout.Enabled = true;
  const std::string before = mPanel->Dump();
  std::string error;
  bool done = true;
  switch (GetParam().action) {
    case 'T':
      done = mPanel->TypeText(GetParam().region, "x", &error);
      break;
    case 'C':
      done = mPanel->Click(GetParam().region, &error);
      break;
    default:
      done = mPanel->ChooseIndex(GetParam().region, 0, &error);
  }
  EXPECT_FALSE(done);
  EXPECT_NE(error.find(GetParam().because), std::string::npos) << error;
  EXPECT_EQ(mPanel->Dump(), before);
  EXPECT_EQ(mLayout->pauseClicks, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedActionTest,
    ::testing::Values(RefusedAction{"disabled_button", "ButtonPause", 'C', "disabled"},
                      RefusedAction{"click_on_an_edit", "EditNetworkAddress", 'C', "an Edit"},
                      RefusedAction{"type_into_a_label", "LabelNetworkAddress", 'T', "a Label"},
                      RefusedAction{"choose_in_a_button", "ButtonEnableBones", 'S', "a Button"},
                      RefusedAction{"empty_region", "StandardParams", 'C', "no control"},
                      RefusedAction{"missing_region", "Missing", 'T', "no region 'Missing'"}),
    [](const ::testing::TestParamInfo<RefusedAction>& info) { return info.param.name; });

TEST_F(PanelTest, ADisabledLayoutDisablesWhatItHolds) {
  mLayout->mMainLayout.Enabled = false;
  std::string error;
  EXPECT_FALSE(mPanel->TypeText("EditNetworkAddress", "x", &error));
  EXPECT_NE(error.find("disabled"), std::string::npos);
  mLayout->mMainLayout.Enabled = true;
  mLayout->mMainLayout.Visible = false;
  EXPECT_FALSE(mPanel->TypeText("EditNetworkAddress", "x", &error));
  EXPECT_NE(error.find("hidden"), std::string::npos);
}

TEST_F(PanelTest, IdleAndStateEventsReachThePanelUntilItCloses) {
  const int handlersBefore = fbhost::UIIdleHandlerCount();
  fbhost::RaiseUIIdle();
  EXPECT_EQ(mLayout->idleCalls, 1);
  EXPECT_FALSE(mLayout->mButtonPause.Enabled.Get()) << "not live: no pause";
  mDevice->Live = true;
  EXPECT_EQ(mLayout->stateChanges, 1);
  fbhost::RaiseUIIdle();
  EXPECT_TRUE(mLayout->mButtonPause.Enabled.Get());
  EXPECT_EQ(fbhost::OpenPanelCount(), 1);
  mPanel.reset();
  EXPECT_EQ(fbhost::OpenPanelCount(), 0);
  EXPECT_EQ(fbhost::UIIdleHandlerCount(), handlersBefore - 1);
  EXPECT_EQ(mDevice->OnStateChange.GetCount(), 0);
}

TEST_F(PanelTest, APanelOutlivingItsDeviceIsContained) {
  mDevice->FBDelete();
  mDevice = nullptr;
  std::string error;
  EXPECT_FALSE(mPanel->Click("ButtonEnableBones", &error));
  EXPECT_NE(error.find("device is gone"), std::string::npos) << error;
  const int before = mLayout->idleCalls;
  fbhost::RaiseUIIdle();  // must not reach the orphan's handler
  EXPECT_EQ(fbhost::OpenPanelCount(), 0);
  EXPECT_NE(mPanel->Dump().find("device is gone"), std::string::npos);
  EXPECT_FALSE(mPanel->Png(1).empty());
  (void)before;
}

TEST_F(PanelTest, OpeningFailsClearly) {
  std::string error;
  EXPECT_EQ(fbhost::Panel::Open(nullptr, &error), nullptr);
  EXPECT_NE(error.find("not alive"), std::string::npos);
  PanelTestDevice other("Other");
  EXPECT_EQ(fbhost::Panel::Open(&other, &error), nullptr);
  EXPECT_NE(error.find("no registered class name"), std::string::npos) << error;
  other.mRegisteredClassName = "UnknownClass";
  EXPECT_EQ(fbhost::Panel::Open(&other, &error), nullptr);
  EXPECT_NE(error.find("'UnknownClass'"), std::string::npos) << error;
  other.mRegisteredClassName = "NoPanelDevice";
  EXPECT_EQ(fbhost::Panel::Open(&other, &error), nullptr);
  EXPECT_NE(error.find("made no panel"), std::string::npos) << error;
}

TEST_F(PanelTest, DumpShowsEveryRegionWithItsState) {
  mLayout->mButtonPause.Enabled = false;
  const std::string dump = mPanel->Dump();
  EXPECT_NE(dump.find("device=\"Test Device\" class=\"PanelTestDevice\" Online=0 Live=0"),
            std::string::npos)
      << dump;
  auto line = [&](const std::string& path) {
    const auto at = dump.find(path + " ");
    EXPECT_NE(at, std::string::npos) << path;
    return at == std::string::npos ? std::string() : dump.substr(at, dump.find('\n', at) - at);
  };
  EXPECT_NE(line("MainLayout/EditNetworkAddress").find("118,34 150x18"), std::string::npos) << dump;
  EXPECT_NE(line("MainLayout/EditNetworkAddress").find("Edit text=\"localhost\" enabled"),
            std::string::npos);
  EXPECT_NE(line("MainLayout/mListAxisMapping")
                .find("List items=[\"Y-Up\"#0, \"Z-Up\"#1] selected=0 \"Y-Up\""),
            std::string::npos);
  EXPECT_NE(line("MainLayout/ButtonEnableBones").find("style=checkbox state=0"), std::string::npos);
  EXPECT_NE(line("MainLayout/ButtonPause").find("disabled"), std::string::npos);
}

TEST_F(PanelTest, SvgIsWellFormedAndEscapesCaptions) {
  // The header shows the device's information text below its status.
  mDevice->Status = "Please perform model binding";
  mDevice->Information = "Cannot connect to server.";
  const std::string svg = mPanel->Svg();
  const std::size_t information = svg.find(">Cannot connect to server.</text>");
  EXPECT_NE(information, std::string::npos);
  EXPECT_LT(svg.find(">Please perform model binding</text>"), information);
  EXPECT_EQ(svg.rfind("<svg ", 0), 0u);
  EXPECT_NE(svg.find("</svg>\n"), std::string::npos);
  EXPECT_NE(svg.find("Stream &lt;Unlabeled&gt; &amp; &quot;Markers&quot;"), std::string::npos);
  EXPECT_EQ(svg.find("<Unlabeled>"), std::string::npos);
  EXPECT_NE(svg.find(">localhost</text>"), std::string::npos);
}

TEST_F(PanelTest, PngIsAValidPictureOfThePanel) {
  if (const char* path = std::getenv("ORBEL_PANEL_PICTURE")) {  // to look at it
    mLayout->mButtonEnableBones.State = 1;
    mPanel->WritePng(std::string(path) + ".png", 2);
    mPanel->WriteSvg(std::string(path) + ".svg");
  }
  for (const int scale : {1, 2}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    const auto png = mPanel->Png(scale);
    DecodedPng picture;
    std::string error;
    ASSERT_TRUE(DecodePng(png, &picture, &error)) << error;
    EXPECT_EQ(picture.width, fbhost::kDefaultPanelWidth * scale);
    EXPECT_EQ(picture.height, (fbhost::kDefaultPanelHeight + fbhost::kPanelHeaderHeight) * scale);
    // The edit is a white field with dark text inside.
    const auto edit = Region("EditNetworkAddress");
    const int y0 = (edit.y + fbhost::kPanelHeaderHeight) * scale;
    const int x0 = edit.x * scale;
    EXPECT_EQ(picture.Rgb(x0 + 2 * scale, y0 + 2 * scale), 0xFFFFFFu);
    int dark = 0;
    for (int y = y0; y < y0 + edit.height * scale; ++y) {
      for (int x = x0 + scale; x < x0 + (edit.width - 1) * scale; ++x) {
        dark += picture.Rgb(x, y) == 0x1C1C1Cu ? 1 : 0;
      }
    }
    EXPECT_GT(dark, 20 * scale * scale) << "\"localhost\" is drawn";
  }
}

// ---- events ----

struct Listener {
  void Handle(HISender, HKEvent) { ++calls; }
  void Other(HISender, HKEvent) { ++otherCalls; }
  int calls = 0;
  int otherCalls = 0;
};

TEST(EventTest, HandlersAreKeyedByOwnerAndCallback) {
  FBPropertyEvent event;
  Listener a, b;
  event.Add(&a, &Listener::Handle);
  event.Add(&a, &Listener::Handle);  // the same pair once
  event.Add(&a, &Listener::Other);
  event.Add(&b, &Listener::Handle);
  int lambdaCalls = 0;
  event.Add(&a, [&](HISender, HKEvent) { ++lambdaCalls; });
  EXPECT_EQ(event.GetCount(), 4);
  event.Fire(nullptr);
  EXPECT_EQ((std::vector<int>{a.calls, a.otherCalls, b.calls, lambdaCalls}),
            (std::vector<int>{1, 1, 1, 1}));
  event.Remove(&a, &Listener::Other);
  event.Remove(&b, &Listener::Other);  // not added: nothing
  EXPECT_EQ(event.GetCount(), 3);
  event.RemoveAll(&a);
  EXPECT_EQ(event.GetCount(), 1);
  event.Fire(nullptr);
  EXPECT_EQ((std::vector<int>{a.calls, a.otherCalls, b.calls, lambdaCalls}),
            (std::vector<int>{1, 1, 2, 1}));
  event.Add(static_cast<Listener*>(nullptr), &Listener::Handle);
  event.Add(&a, FBPropertyEvent::Callback());
  EXPECT_EQ(event.GetCount(), 1);
}

TEST(EventTest, HandlersMayEditTheEventWhileItIsRaised) {
  FBPropertyEvent event;
  std::vector<std::string> calls;
  int owners[3];
  event.Add(&owners[0], [&](HISender, HKEvent) {
    calls.push_back("first");
    event.RemoveAll(&owners[0]);  // itself
    event.RemoveAll(&owners[1]);  // a later one: not called now
    event.Add(&owners[0], [&](HISender, HKEvent) { calls.push_back("added"); });
  });
  event.Add(&owners[1], [&](HISender, HKEvent) { calls.push_back("second"); });
  event.Add(&owners[2], [&](HISender, HKEvent) { throw std::runtime_error("boom"); });
  fbhost::SetMessageEcho(false);
  fbhost::ClearMessages();
  event.Fire(nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
  ASSERT_EQ(fbhost::Messages().size(), 1u);
  EXPECT_NE(fbhost::Messages()[0].text.find("boom"), std::string::npos);
  event.Fire(nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "added"}));
  fbhost::SetMessageEcho(true);
}

TEST(EventTest, RemoveWaitsForARaiseInProgressOnAnotherThread) {
  FBPropertyEvent event;
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> handlerDone{false};
  int owner = 0;
  event.Add(&owner, [&](HISender, HKEvent) {
    entered.set_value();
    released.wait();
    handlerDone = true;
  });
  std::thread raiser([&] { event.Fire(nullptr); });
  entered.get_future().wait();
  std::atomic<bool> removed{false};
  std::thread remover([&] {
    event.RemoveAll(&owner);
    removed = true;
    EXPECT_TRUE(handlerDone.load()) << "Remove returned while the handler still ran";
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(removed.load());
  release.set_value();
  raiser.join();
  remover.join();
  EXPECT_TRUE(removed.load());
  EXPECT_EQ(event.GetCount(), 0);
}

TEST(EventTest, EveryFBSystemShowsTheOneIdleEvent) {
  const int before = fbhost::UIIdleHandlerCount();
  Listener listener;
  {
    FBSystem first;
    first.OnUIIdle.Add(&listener, &Listener::Handle);
  }
  EXPECT_EQ(fbhost::UIIdleHandlerCount(), before + 1);
  fbhost::RaiseUIIdle();
  EXPECT_EQ(listener.calls, 1);
  FBSystem second;
  second.OnUIIdle.Remove(&listener, &Listener::Handle);
  EXPECT_EQ(fbhost::UIIdleHandlerCount(), before);
  fbhost::RaiseUIIdle();
  EXPECT_EQ(listener.calls, 1);
}

}  // namespace
