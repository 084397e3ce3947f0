// Connecting, the retry loop's timing, and the stream options, against the
// scripted client with the connect loop's clock driven by hand.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "reader_fixture.h"

namespace orbel::testing {
namespace {

using ConnectTest = ReaderTest;

TEST_F(ConnectTest, UnreachableServerGetsTwentySixAttemptsTwoHundredMsApart) {
  script.reachable = false;
  EXPECT_FALSE(reader->ConnectToServer(5));

  const std::vector<ScriptedCall> attempts = script.CallsNamed("Connect");
  ASSERT_EQ(attempts.size(), 26u);
  for (std::size_t i = 0; i < attempts.size(); ++i) {
    EXPECT_EQ(attempts[i].atMs, static_cast<std::int64_t>(i) * 200) << "attempt " << i;
    EXPECT_EQ(attempts[i].argument, "localhost:801");
  }
  EXPECT_EQ(connectClock.nowMs.load(), 5200) << "gives up one pass after the limit";
  // A failed connect leaves the client's options alone.
  EXPECT_EQ(script.Count("EnableDeviceData"), 0);
  EXPECT_EQ(script.Count("SetAxisMapping"), 0);
}

struct AttemptRow {
  const char* name;
  int timeoutSeconds;
  int attempts;
};

class ConnectLimitTest : public ReaderTest, public ::testing::WithParamInterface<AttemptRow> {};

TEST_P(ConnectLimitTest, AttemptsFollowTheLimit) {
  script.reachable = false;
  EXPECT_FALSE(reader->ConnectToServer(GetParam().timeoutSeconds));
  EXPECT_EQ(script.Count("Connect"), GetParam().attempts);
}

INSTANTIATE_TEST_SUITE_P(Limits, ConnectLimitTest,
                         ::testing::Values(AttemptRow{"zero", 0, 1}, AttemptRow{"one", 1, 6},
                                           AttemptRow{"negative", -1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The limit in milliseconds no longer fits 32 bits; a wrapped limit would give up at once.
TEST_F(ConnectTest, HugeLimitKeepsTryingUntilTheServerAnswers) {
  script.connectFailuresFirst = 40;
  EXPECT_TRUE(reader->ConnectToServer(2147484));
  EXPECT_EQ(script.Count("Connect"), 41);
}

TEST_F(ConnectTest, ServerAnsweringOnTheThirdAttemptConnects) {
  script.connectFailuresFirst = 2;
  EXPECT_TRUE(reader->ConnectToServer(5));
  EXPECT_EQ(script.Count("Connect"), 3);
  EXPECT_EQ(connectClock.nowMs.load(), 600);
}

TEST_F(ConnectTest, AlreadyConnectedNeedsNoConnectCall) {
  script.connected = true;
  EXPECT_TRUE(reader->ConnectToServer(5));
  EXPECT_EQ(script.Count("Connect"), 0);
  EXPECT_TRUE(connectClock.sleeps.empty());
}

TEST_F(ConnectTest, SuccessfulConnectAppliesOptionsInOrder) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  const std::vector<std::string> expected = {"IsConnected",
                                             "Connect",
                                             "IsConnected",
                                             "EnableDeviceData",
                                             "EnableSegmentData",
                                             "EnableMarkerData",
                                             "EnableUnlabeledMarkerData",
                                             "SetStreamMode",
                                             "SetAxisMapping"};
  EXPECT_EQ(script.Sequence(), expected);
  EXPECT_EQ(script.streamMode, 0);
  EXPECT_TRUE(reader->StreamOptionsApplied());
}

TEST_F(ConnectTest, AddressIsHostColonPortAsGiven) {
  reader->SetServerHost("mocap-stage");
  reader->SetServerPort("0801");
  EXPECT_EQ(reader->ServerPort(), "0801") << "the port stays text";
  ASSERT_TRUE(reader->ConnectToServer(5));
  EXPECT_EQ(script.CallsNamed("Connect").at(0).argument, "mocap-stage:0801");
}

struct WishRow {
  const char* name;
  std::function<bool(OrbelDataReader&)> wish;
  std::string expectedCall;
  bool Script::*flag;
};

class WishBeforeConnectTest : public ReaderTest, public ::testing::WithParamInterface<WishRow> {};

TEST_P(WishBeforeConnectTest, AppliedAtConnect) {
  // Not connected yet: the client refuses, the reader still keeps the wish.
  EXPECT_TRUE(GetParam().wish(*reader));
  script.ClearCalls();
  ASSERT_TRUE(reader->ConnectToServer(5));
  EXPECT_EQ(script.Count(GetParam().expectedCall), 1);
  EXPECT_FALSE(script.*(GetParam().flag));
  EXPECT_TRUE(reader->StreamOptionsApplied());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WishBeforeConnectTest,
    ::testing::Values(WishRow{"segments",
                              [](OrbelDataReader& r) { return r.SetSegmentData(false); },
                              "DisableSegmentData", &Script::segmentsEnabled},
                      WishRow{"markers", [](OrbelDataReader& r) { return r.SetMarkerData(false); },
                              "DisableMarkerData", &Script::markersEnabled},
                      WishRow{"unlabeled",
                              [](OrbelDataReader& r) { return r.SetUnlabeledMarkerData(false); },
                              "DisableUnlabeledMarkerData", &Script::unlabeledEnabled}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectTest, YUpIsSetAtEveryConnect) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  ASSERT_TRUE(reader->SetAxisMapping(1));
  EXPECT_EQ(script.axes, (std::array<int, 3>{4, 0, 3}));
  script.connected = false;  // the server went away
  ASSERT_TRUE(reader->ConnectToServer(5));
  EXPECT_EQ(script.axes, (std::array<int, 3>{4, 2, 0}));
  EXPECT_EQ(script.CallsNamed("SetAxisMapping").back().argument, "4,2,0");
}

TEST_F(ConnectTest, AxisChoicesMapToDirections) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  const std::vector<std::pair<int, std::array<int, 3>>> rows = {
      {0, {4, 2, 0}}, {1, {4, 0, 3}}, {7, {4, 0, 3}}, {-1, {4, 0, 3}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    EXPECT_TRUE(reader->SetAxisMapping(row.first));
    EXPECT_EQ(script.axes, row.second);
  }
}

TEST_F(ConnectTest, WishChangedAfterConnectKeepsOptionsApplied) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  EXPECT_TRUE(reader->SetSegmentData(false));
  EXPECT_TRUE(reader->StreamOptionsApplied());
  EXPECT_FALSE(reader->SegmentDataEnabled());
  EXPECT_TRUE(reader->SetSegmentData(true));
  EXPECT_TRUE(reader->SegmentDataEnabled());
}

TEST_F(ConnectTest, OptionsNotAppliedWhenServerIgnoresAWish) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  script.acknowledgeKinds = false;
  reader->SetMarkerData(false);
  EXPECT_TRUE(reader->MarkerDataEnabled()) << "the client's flag, not the wish";
  EXPECT_FALSE(reader->StreamOptionsApplied());
  script.connected = false;
  script.acknowledgeKinds = true;
  EXPECT_FALSE(reader->StreamOptionsApplied()) << "a lost connection is not applied either";
}

TEST_F(ConnectTest, DisconnectAnswersTheClientsResultAndDestructionDisconnectsOnce) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  script.disconnectResult = sdk::Result::NotConnected;
  EXPECT_FALSE(reader->DisconnectFromServer());
  script.disconnectResult = sdk::Result::Success;
  EXPECT_TRUE(reader->DisconnectFromServer());
  script.ClearCalls();
  reader.reset();
  EXPECT_EQ(script.Count("Disconnect"), 1) << "the connected flag stays set after a disconnect";
}

TEST_F(ConnectTest, NeverConnectedReaderDoesNotDisconnectOnDestruction) {
  reader.reset();
  EXPECT_EQ(script.Count("Disconnect"), 0);
}

TEST_F(ConnectTest, RequestFrameAnswersWhetherANewFrameCame) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  EXPECT_TRUE(reader->RequestFrame());
  script.frameResult = sdk::Result::NoFrame;
  EXPECT_FALSE(reader->RequestFrame());
}

TEST_F(ConnectTest, ReaderWithoutClientAnswersFalseEverywhere) {
  reader->ReleaseClient();
  ASSERT_FALSE(reader->HasClient());
  FBTime t = FBTime::FromMilliSeconds(123);
  hostClock.AdvanceMilliSeconds(1000);
  const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
      {"ConnectToServer", [&] { return reader->ConnectToServer(5); }},
      {"DisconnectFromServer", [&] { return reader->DisconnectFromServer(); }},
      {"SetSegmentData", [&] { return reader->SetSegmentData(false); }},
      {"SetMarkerData", [&] { return reader->SetMarkerData(false); }},
      {"SetUnlabeledMarkerData", [&] { return reader->SetUnlabeledMarkerData(false); }},
      {"SegmentDataEnabled", [&] { return reader->SegmentDataEnabled(); }},
      {"MarkerDataEnabled", [&] { return reader->MarkerDataEnabled(); }},
      {"UnlabeledMarkerDataEnabled", [&] { return reader->UnlabeledMarkerDataEnabled(); }},
      {"SetAxisMapping", [&] { return reader->SetAxisMapping(0); }},
      {"StreamOptionsApplied", [&] { return reader->StreamOptionsApplied(); }},
      {"RequestFrame", [&] { return reader->RequestFrame(); }},
      {"ReadDescription", [&] { return reader->ReadDescription(true); }},
      {"ReadFrame", [&] { return reader->ReadFrame(FBTime::Zero); }},
      {"NextFrame (poll)", [&] { return reader->NextFrame(t); }},
      {"NextFrame (due)", [&] { return reader->NextFrame(t); }},
      {"ReadTimecodeStandard", [&] { return reader->ReadTimecodeStandard(); }},
  };
  for (const auto& call : calls) EXPECT_FALSE(call.second()) << call.first;
  EXPECT_EQ(t, FBTime::FromMilliSeconds(123)) << "NextFrame leaves the time alone on false";
  EXPECT_TRUE(script.calls.empty()) << "nothing reached a client";
  reader->UpdateTimecode();  // must not crash
}

}  // namespace
}  // namespace orbel::testing
