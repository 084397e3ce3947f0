// The kernel-service layer: mutexes that behave like the reader expects on
// every platform (recursive for their owner, released only by their owner,
// bounded waits).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "orbel_platform.h"

namespace orbel::platform {
namespace {

struct CreateRow {
  const char* name;
  const void* attributes;
  bool initialOwner;
  const char* mutexName;
  bool made;
};

class CreateMutexTest : public ::testing::TestWithParam<CreateRow> {};

TEST_P(CreateMutexTest, OnlyUnnamedUnownedMutexesAreMade) {
  const CreateRow& row = GetParam();
  MutexHandle mutex = CreateMutexA(row.attributes, row.initialOwner, row.mutexName);
  EXPECT_EQ(mutex != nullptr, row.made);
  CloseHandle(mutex);
}

const int kSomeAttributes = 0;

INSTANTIATE_TEST_SUITE_P(Rows, CreateMutexTest,
                         ::testing::Values(CreateRow{"empty_name", nullptr, false, "", true},
                                           CreateRow{"null_name", nullptr, false, nullptr, true},
                                           CreateRow{"named", nullptr, false, "Global\\x", false},
                                           CreateRow{"owned", nullptr, true, "", false},
                                           CreateRow{"attributes", &kSomeAttributes, false, "",
                                                     false}),
                         [](const auto& info) { return std::string(info.param.name); });

class MutexTest : public ::testing::Test {
 protected:
  void SetUp() override { mutex = CreateMutexA(nullptr, false, ""); }
  void TearDown() override { CloseHandle(mutex); }

  // Runs f on another thread and answers its result.
  template <typename F>
  bool OnOtherThread(F f) {
    bool result = false;
    std::thread other([&] { result = f(); });
    other.join();
    return result;
  }

  MutexHandle mutex = nullptr;
};

TEST_F(MutexTest, OwnerMayWaitAgainAndMustReleaseAsOften) {
  ASSERT_TRUE(WaitForSingleObject(mutex, 0));
  ASSERT_TRUE(WaitForSingleObject(mutex, 0));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(OnOtherThread([&] { return WaitForSingleObject(mutex, 10); })) << "still held once";
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex)) << "nothing left to release";
  EXPECT_TRUE(OnOtherThread([&] {
    const bool taken = WaitForSingleObject(mutex, 0);
    return taken && ReleaseMutex(mutex);
  }));
}

TEST_F(MutexTest, OnlyTheOwnerReleases) {
  ASSERT_TRUE(WaitForSingleObject(mutex, 0));
  EXPECT_FALSE(OnOtherThread([&] { return ReleaseMutex(mutex); }));
  EXPECT_FALSE(OnOtherThread([&] { return WaitForSingleObject(mutex, 10); }));
  EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST_F(MutexTest, WaiterGetsTheMutexWhenReleased) {
  ASSERT_TRUE(WaitForSingleObject(mutex, 0));
  std::atomic<bool> waiting{false};
  bool taken = false;
  std::thread other([&] {
    waiting = true;
    // Far longer than the release takes, so the answer does not depend on speed.
    taken = WaitForSingleObject(mutex, 60000);
    if (taken) ReleaseMutex(mutex);
  });
  while (!waiting) std::this_thread::yield();
  EXPECT_TRUE(ReleaseMutex(mutex));
  other.join();
  EXPECT_TRUE(taken);
}

TEST(PlatformTest, NullHandleIsNeverHeld) {
  EXPECT_FALSE(WaitForSingleObject(nullptr, 0));
  EXPECT_FALSE(ReleaseMutex(nullptr));
  CloseHandle(nullptr);
}

TEST(PlatformTest, ScopedWaitReleasesOnlyWhatItTook) {
  MutexHandle mutex = CreateMutexA(nullptr, false, "");
  ASSERT_TRUE(WaitForSingleObject(mutex, 0));
  std::thread other([&] {
    ScopedWait wait(mutex, 10);
    EXPECT_FALSE(wait.owns());
  });  // its destructor must not release the main thread's hold
  other.join();
  EXPECT_TRUE(ReleaseMutex(mutex));
  {
    ScopedWait wait(mutex, 0);
    EXPECT_TRUE(wait.owns());
  }
  EXPECT_FALSE(ReleaseMutex(mutex)) << "released by the scope";
  CloseHandle(mutex);
}

TEST(PlatformTest, MonotonicClockAdvancesAcrossASleep) {
  const std::int64_t before = MonotonicMilliSeconds();
  Sleep(5);
  EXPECT_GE(MonotonicMilliSeconds() - before, 5);
}

}  // namespace
}  // namespace orbel::platform
