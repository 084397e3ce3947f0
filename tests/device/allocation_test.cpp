// The per-sample path allocates nothing on the host's threads once a device
// is bound: taking a sample in (the reader's fetch of a frame) and writing
// every node. A heap allocation there would come back 120 to 240 times a
// second for as long as the device streams.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "device_fixture.h"

// Allocations made by the calling thread only: the client's receive thread
// and the server's threads allocate as they please. The replacement pairs
// malloc with free on purpose, which the compiler cannot see across the
// replaced operators.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
thread_local std::uint64_t tAllocations = 0;

void* operator new(std::size_t size) {
  ++tAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++tAllocations;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace orbel::device_testing {
namespace {

class AllocationTest : public DeviceTest {
 protected:
  fbhost::ManualClock mClock{FBTime::FromMilliSeconds(1000)};
  fbhost::ScopedClock mScopedClock{mClock};
};

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
  const std::uint64_t allocationsBefore = tAllocations;
  for (int i = 0; i < 50; ++i) pass();
  const std::uint64_t allocations = tAllocations - allocationsBefore;
  EXPECT_EQ(acks() - acksBefore, 50) << "every pass takes a sample in";
  EXPECT_EQ(allocations, 0u);
}

}  // namespace
}  // namespace orbel::device_testing
