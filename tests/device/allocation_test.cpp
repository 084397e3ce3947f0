// The per-sample path allocates nothing on the host's threads once a device
// is bound: taking a sample in (the reader's fetch of a frame) and writing
// every node. A heap allocation there would come back 120 to 240 times a
// second for as long as the device streams.
#include <cstdint>
#include <new>

#include "device_fixture.h"
#include "thread_allocations.h"

namespace orbel::device_testing {
namespace {

class AllocationTest : public DeviceTest {
 protected:
  fbhost::ManualClock mClock{FBTime::FromMilliSeconds(1000)};
  fbhost::ScopedClock mScopedClock{mClock};
};

// Without this, a counter that never counts would pass every test here.
TEST(ThreadAllocationsTest, CountsTheCallingThreadsAllocations) {
  const std::uint64_t before = orbel::testing::ThreadAllocations();
  void* block = ::operator new(16);  // a direct call: the compiler may not drop it
  ::operator delete(block);
  EXPECT_EQ(orbel::testing::ThreadAllocations() - before, 1u);
}

TEST_F(AllocationTest, SamplesAndNodeWritesAllocateNothing) {
  Serve("pose.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(3);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BindRoot(device));
  ASSERT_FALSE(Access::TranslationNodes(*device).empty());
  ASSERT_FALSE(Access::MarkerNodes(*device).empty());

  FBEvaluateInfo evaluation(FBTime(), FBTime(), 1);
  auto acks = [&] { return fbhost::GetDeviceStatistics(device).samplesAcknowledged; };
  auto pass = [&] {
    mClock.AdvanceMilliSeconds(12);
    FBDeviceNotifyInfo info(mClock.Now(), mClock.Now());
    device->SampleInputNotify(0, info);
    device->NodeEvaluateNotify(nullptr, &evaluation);
  };
  // The first passes may size what the later ones reuse.
  for (int i = 0; i < 3; ++i) pass();

  const std::int64_t acksBefore = acks();
  const std::uint64_t allocationsBefore = orbel::testing::ThreadAllocations();
  // A pass takes a sample in when the server's next frame has come.
  for (int i = 0; i < 200; ++i) {
    pass();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::uint64_t allocations = orbel::testing::ThreadAllocations() - allocationsBefore;
  EXPECT_GE(acks() - acksBefore, 10) << "the passes took samples in";
  EXPECT_EQ(allocations, 0u);
}

}  // namespace
}  // namespace orbel::device_testing
