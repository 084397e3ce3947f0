// Shared set-up for the reader tests that run against the scripted client:
// a script installed for the test's life, a hand-driven clock for the connect
// loop and one for the host, and a few scenes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fbhost/clock.h>

#include "OrbelDataReader.h"
#include "scripted_client.h"

namespace orbel::testing {

// Connect-loop time that moves only when the reader sleeps.
struct SleepDrivenClock {
  std::atomic<std::int64_t> nowMs{0};
  std::vector<std::uint32_t> sleeps;

  OrbelReaderClock ForReader() {
    return OrbelReaderClock{[this] { return nowMs.load(); },
                            [this](std::uint32_t ms) {
                              sleeps.push_back(ms);
                              nowMs += ms;
                            }};
  }
};

// Holds the reader's data lock on another thread for its own lifetime, so
// that the test thread's bounded waits expire.
class DataLockHolder {
 public:
  explicit DataLockHolder(const OrbelDataReader& reader)
      : mThread([this, &reader] {
          OrbelDataReader::ScopedDataLock lock(reader);
          std::unique_lock<std::mutex> guard(mMutex);
          mHeld = lock.owns();
          mStarted = true;
          mChanged.notify_all();
          mChanged.wait(guard, [this] { return mDone; });
        }) {
    std::unique_lock<std::mutex> guard(mMutex);
    mChanged.wait(guard, [this] { return mStarted; });
  }
  DataLockHolder(const DataLockHolder&) = delete;
  DataLockHolder& operator=(const DataLockHolder&) = delete;
  ~DataLockHolder() {
    {
      std::lock_guard<std::mutex> guard(mMutex);
      mDone = true;
    }
    mChanged.notify_all();
    mThread.join();
  }
  bool held() {
    std::lock_guard<std::mutex> guard(mMutex);
    return mHeld;
  }

 private:
  std::mutex mMutex;
  std::condition_variable mChanged;
  bool mStarted = false;
  bool mHeld = false;
  bool mDone = false;
  std::thread mThread;  // last: starts once the flags above exist
};

inline ScriptedSubject Subject(std::string name, std::vector<ScriptedSegment> segments,
                               std::vector<std::string> markerNames = {}) {
  ScriptedSubject subject;
  subject.name = std::move(name);
  subject.segments = std::move(segments);
  for (std::string& marker : markerNames) subject.markers.push_back(ScriptedMarker{marker, {}});
  return subject;
}

// Bob with a three-segment chain and two markers.
inline ScriptedSubject Bob() {
  return Subject("Bob",
                 {{"Hips", "", {}, {0, 0, 0, 1}},
                  {"Spine", "Hips", {}, {0, 0, 0, 1}},
                  {"Head", "Spine", {}, {0, 0, 0, 1}}},
                 {"LFHD", "RFHD"});
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    script.nowMs = [this] { return connectClock.nowMs.load(); };
    installed = std::make_unique<ScopedScript>(script);
    hostClockGuard = std::make_unique<fbhost::ScopedClock>(hostClock);
    reader = std::make_unique<OrbelDataReader>();
    reader->SetConnectClock(connectClock.ForReader());
  }

  void TearDown() override {
    reader.reset();
    hostClockGuard.reset();
    installed.reset();
  }

  // Connects and reads the description with the given scene.
  void ConnectAndDescribe(bool strip = true) {
    ASSERT_TRUE(reader->ConnectToServer(5));
    ASSERT_TRUE(reader->ReadDescription(strip));
  }

  Script script;
  SleepDrivenClock connectClock;
  fbhost::ManualClock hostClock;
  std::unique_ptr<ScopedScript> installed;
  std::unique_ptr<fbhost::ScopedClock> hostClockGuard;
  std::unique_ptr<OrbelDataReader> reader;
};

}  // namespace orbel::testing
