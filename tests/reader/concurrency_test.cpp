// The reader from several host threads at once: the input thread fetching
// frames while the device and the panel rebuild the description, pause and
// restart the time line. Meant to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "reader_fixture.h"

namespace orbel::testing {
namespace {

class ConcurrencyTest : public ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    script.record = false;
    for (int s = 0; s < 3; ++s) {
      ScriptedSubject subject = Bob();
      subject.name = "Actor" + std::to_string(s);
      script.subjects.push_back(subject);
    }
    script.unlabeled.resize(20, {1, 2, 3});
    reader->unlabeledMarkerCount = 20;
    ConnectAndDescribe();
  }
};

TEST_F(ConcurrencyTest, FramesDescriptionPauseAndTimeLineTogether) {
  const std::size_t segmentCount = reader->segments.size();
  const std::size_t markerCount = reader->markers.size();
  std::atomic<bool> stop{false};
  std::atomic<bool> torn{false};
  std::atomic<int> frames{0}, descriptions{0}, pauses{0}, resets{0}, walks{0};

  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // the host's input thread
    FBTime t;
    while (!stop) {
      hostClock.AdvanceMilliSeconds(12);
      if (reader->ReadFrame(hostClock.Now())) ++frames;
      reader->NextFrame(t);
    }
  });
  threads.emplace_back([&] {  // device operations: rebuilding the description
    while (!stop) {
      if (reader->ReadDescription(descriptions % 2 == 0)) ++descriptions;
    }
  });
  threads.emplace_back([&] {  // the panel's pause button
    bool paused = false;
    while (!stop) {
      paused = !paused;
      if (reader->SetPaused(paused)) ++pauses;
      std::this_thread::yield();
    }
    reader->SetPaused(false);
  });
  threads.emplace_back([&] {  // transport changes
    while (!stop) {
      if (reader->ResetFrameTime(hostClock.Now())) ++resets;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  threads.emplace_back([&] {  // the evaluation thread walking the records
    while (!stop) {
      OrbelDataReader::ScopedDataLock lock(*reader);
      if (!lock.owns()) continue;
      // Under the lock a rebuild is never seen half done.
      if (reader->segments.size() != segmentCount || reader->markers.size() != markerCount ||
          reader->unlabeledMarkers.size() != 20u) {
        torn = true;
      }
      double sum = 0;
      for (const auto& entry : reader->segments) sum += entry.second.translation[0];
      (void)sum;
      ++walks;
    }
  });

  std::this_thread::sleep_for(std::chrono::seconds(2));
  stop = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_FALSE(torn.load());
  EXPECT_GT(frames.load(), 0);
  EXPECT_GT(descriptions.load(), 0);
  EXPECT_GT(pauses.load(), 0);
  EXPECT_GT(resets.load(), 0);
  EXPECT_GT(walks.load(), 0);
  EXPECT_FALSE(reader->Paused());
}

}  // namespace
}  // namespace orbel::testing
