#include "OrbelDataStreamSDK/Diagnostics.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "DiagnosticsRecord.h"
#include "Net.h"

namespace {

struct Figures {
  std::mutex lock;
  OrbelDataStreamSDK::Diagnostics::FrameTaken newest;
  std::vector<std::string> subjectNames;
  // Counted apart, without the lock: answers are read many thousand times a
  // frame, and only a hostile server makes this move.
  std::atomic<std::uint64_t> nonFinite{0};
};

// Never destroyed: a client's receive thread may still take frames while
// the process runs its static destructors.
Figures& TheFigures() {
  static Figures* figures = new Figures;
  return *figures;
}

}  // namespace

namespace orbel::client {

void RecordFrameTaken(std::uint64_t number, std::int64_t serverSendTimeNs,
                      std::int64_t receiveTimeNs, bool hadPrevious,
                      std::uint64_t previousNumber) noexcept {
  const std::int64_t now = net::monotonicNowNs();
  Figures& figures = TheFigures();
  std::lock_guard<std::mutex> guard(figures.lock);
  auto& newest = figures.newest;
  newest.Valid = true;
  newest.FrameNumber = number;
  newest.ServerSendTimeNs = serverSendTimeNs;
  newest.ReceiveTimeNs = receiveTimeNs;
  newest.TakenTimeNs = now;
  ++newest.FramesTaken;
  if (hadPrevious && number > previousNumber + 1)
    newest.FramesSkipped += number - previousNumber - 1;
}

void RecordDescriptionTaken(std::vector<std::string> subjectNames) noexcept {
  Figures& figures = TheFigures();
  std::lock_guard<std::mutex> guard(figures.lock);
  figures.subjectNames = std::move(subjectNames);
}

void RecordNonFiniteAnswer() noexcept {
  TheFigures().nonFinite.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace orbel::client

namespace OrbelDataStreamSDK::Diagnostics {

FrameTaken NewestFrameTaken() noexcept {
  Figures& figures = TheFigures();
  FrameTaken copy;
  {
    std::lock_guard<std::mutex> guard(figures.lock);
    copy = figures.newest;
  }
  copy.NonFiniteAnswers = figures.nonFinite.load(std::memory_order_relaxed);
  return copy;
}

unsigned int NewestSubjectNames(CPP::String* names, unsigned int capacity) noexcept {
  Figures& figures = TheFigures();
  std::lock_guard<std::mutex> guard(figures.lock);
  const auto count = static_cast<unsigned int>(figures.subjectNames.size());
  try {
    for (unsigned int i = 0; i < std::min(count, capacity) && names != nullptr; ++i) {
      names[i] = CPP::String(figures.subjectNames[i]);
    }
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return count;
}

}  // namespace OrbelDataStreamSDK::Diagnostics
