// A live, bound device whose capture server dies: the server program runs
// as a child process and is killed outright (no goodbye; the kernel closes
// its sockets), then started again on the same port, with the same or
// another description.
//
// The host runs no threads here: its clock moves only when the test says,
// and each input or evaluation pass is run by hand. The reader's connect
// clock is injected too, so a start against a dead server gives up at once
// instead of after five seconds of real time.
#include <array>
#include <atomic>

#include <fbhost/clock.h>
#include <fbhost/engine.h>
#include <fbsdk/fbmodel.h>

#include "device_fixture.h"
#include "server_process.h"

namespace orbel::device_testing {
namespace {

using faults::ServerProcess;
using Values = std::array<double, 3>;

constexpr int kOperationReset = 4;

Values Read(FBAnimationNode* node) {
  Values values{};
  node->ReadData(values.data());
  return values;
}

std::string Text(const FBPropertyString& property) { return property.Get().str(); }

class DeviceFaultsTest : public DeviceTest {
 protected:
  void TearDown() override {
    mServerProcess.Kill();
    DeviceTest::TearDown();
  }

  // The synthetic scene with `subjects` subjects, on `port` (0: a free one).
  // A port just freed by a killed server may be refused for a moment; the
  // start is tried again until the port is free.
  void StartServer(int subjects, std::uint16_t port = 0) {
    const std::vector<std::string> arguments{"--port", std::to_string(port), "--subjects",
                                             std::to_string(subjects)};
    std::string error;
    ASSERT_TRUE(Eventually([&] { return mServerProcess.Start(arguments, error); })) << error;
    if (port != 0) {
      ASSERT_EQ(mServerProcess.port(), port);
    }
  }

  // A started device, bound to a new model, reading the server's scene.
  OrbelSimpleDeviceOptical* BoundDevice() {
    OrbelSimpleDeviceOptical* device = AddDevice();
    if (device == nullptr) return nullptr;
    device->SetHostPort(std::to_string(mServerProcess.port()).c_str());
    Access::Reader(*device)->SetConnectClock(
        {[this] { return mConnectMs.load(); }, [this](std::uint32_t ms) { mConnectMs += ms; }});
    EXPECT_TRUE(GoOnline(device));
    EXPECT_TRUE(BindRoot(device));
    return device;
  }

  // The reader has seen the connection go (the client notices a closed
  // socket at once, a silent one within two seconds).
  bool ConnectionLost(OrbelSimpleDeviceOptical* device) {
    OrbelDataReader* reader = Access::Reader(*device);
    return Eventually([&] { return !reader->StreamOptionsApplied(); });
  }

  ServerProcess mServerProcess;
  std::atomic<std::int64_t> mConnectMs{0};
  fbhost::ManualClock mClock{FBTime::FromMilliSeconds(1000)};
  fbhost::ScopedClock mScopedClock{mClock};
};

TEST_F(DeviceFaultsTest, KilledServerStopsInputUntilAResetFindsItBack) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1));
  const std::uint16_t port = mServerProcess.port();
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(TakeSample(mClock, device));
  ASSERT_EQ(fbhost::StepEvaluation(), 1);
  FBAnimationNode* hips = Access::TranslationNodes(*device).at("Actor1:Actor1_Hips");
  const Values before = Read(hips);

  mServerProcess.Kill();
  ASSERT_TRUE(ConnectionLost(device));

  // The device runs on: still live, passes take nothing in and acknowledge
  // nothing, and the nodes keep the last sample.
  const std::int64_t acks = Acks(device);
  for (int pass = 0; pass < 50; ++pass) {
    InputPass(mClock);
    EXPECT_EQ(fbhost::StepEvaluation(), 1);
  }
  EXPECT_EQ(Acks(device), acks);
  EXPECT_TRUE(device->Live.Get());
  EXPECT_EQ(Read(hips), before);

  // The next operation says what happened: a reset cannot reach the server.
  EXPECT_FALSE(fbhost::RunDeviceOperation(device, kOperationReset));
  EXPECT_EQ(Text(device->Information), "Cannot connect to server.");
  EXPECT_EQ(Acks(device), acks);

  // Back on the same port: a reset reconnects and samples flow again.
  ASSERT_NO_FATAL_FAILURE(StartServer(1, port));
  ASSERT_TRUE(fbhost::RunDeviceOperation(device, kOperationReset)) << Text(device->Information);
  EXPECT_EQ(Text(device->Information), "Started");
  EXPECT_EQ(Text(device->Status), " ") << "the model stays bound";
  ASSERT_TRUE(TakeSample(mClock, device));
  ASSERT_EQ(fbhost::StepEvaluation(), 1);
  EXPECT_NE(Read(hips), before) << "the restarted server's frames reach the nodes";
}

TEST_F(DeviceFaultsTest, HungServerCountsAsGoneAndAResetFindsItAwake) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1));
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(TakeSample(mClock, device));

  // Its sockets stay open but nothing comes: after a short silence the
  // client gives the connection up, and no input pass waits for it.
  mServerProcess.Freeze();
  ASSERT_TRUE(ConnectionLost(device));
  const std::int64_t acks = Acks(device);
  for (int pass = 0; pass < 20; ++pass) InputPass(mClock);
  EXPECT_EQ(Acks(device), acks);
  EXPECT_TRUE(device->Live.Get());

  mServerProcess.Thaw();
  ASSERT_TRUE(fbhost::RunDeviceOperation(device, kOperationReset)) << Text(device->Information);
  EXPECT_EQ(Text(device->Information), "Started");
  EXPECT_TRUE(TakeSample(mClock, device));
}

TEST_F(DeviceFaultsTest, StopAfterTheServerDiedSucceedsAndAStartReconnects) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1));
  const std::uint16_t port = mServerProcess.port();
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  mServerProcess.Kill();
  ASSERT_TRUE(ConnectionLost(device));

  // Going offline from a dead server is no failure: there is nothing left
  // to stop.
  EXPECT_TRUE(fbhost::SetDeviceOnline(device, false));
  EXPECT_FALSE(device->Online.Get());
  EXPECT_FALSE(device->Live.Get());

  ASSERT_NO_FATAL_FAILURE(StartServer(1, port));
  ASSERT_TRUE(GoOnline(device));
  EXPECT_TRUE(device->Live.Get());
  EXPECT_TRUE(TakeSample(mClock, device));
}

TEST_F(DeviceFaultsTest, ServerBackWithAnotherDescriptionGivesNewSubjectsAtTheNextBind) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1));
  const std::uint16_t port = mServerProcess.port();
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(Access::SubjectTemplates(*device).size(), 1u);
  FBModel* root = Access::RootTemplate(*device)->Model;
  ASSERT_NE(root, nullptr);

  mServerProcess.Kill();
  ASSERT_TRUE(ConnectionLost(device));
  ASSERT_NO_FATAL_FAILURE(StartServer(3, port));
  ASSERT_TRUE(fbhost::RunDeviceOperation(device, kOperationReset)) << Text(device->Information);

  ASSERT_TRUE(BindRoot(
      device, root, [](const OrbelDataReader& reader) { return reader.subjectNames.size() == 3; }));
  const auto& subjects = Access::SubjectTemplates(*device);
  for (const char* subject : {"Actor1", "Actor2", "Actor3"}) {
    EXPECT_EQ(subjects.count(subject), 1u) << subject;
  }
  EXPECT_EQ(Access::SegmentTemplates(*device).size(), 3u * 22u);

  // The new subjects' models move with the stream.
  ASSERT_TRUE(TakeSample(mClock, device));
  ASSERT_EQ(fbhost::StepEvaluation(), 1);
  FBAnimationNode* hips = Access::TranslationNodes(*device).at("Actor3:Actor3_Hips");
  const SegmentRecord& record = Access::Reader(*device)->segments.at("Actor3:Actor3_Hips");
  const Values expected{record.translation[0] * 0.1, record.translation[1] * 0.1,
                        record.translation[2] * 0.1};
  const Values written = Read(hips);
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(written[i], expected[i]) << "axis " << i;
}

}  // namespace
}  // namespace orbel::device_testing
