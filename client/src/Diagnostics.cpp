#include "OrbelDataStreamSDK/Diagnostics.h"

#include <mutex>

#include "DiagnosticsRecord.h"
#include "Net.h"

namespace {

struct Figures {
  std::mutex lock;
  OrbelDataStreamSDK::Diagnostics::FrameTaken newest;
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
  const std::int64_t now = monotonicNowNs();
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

}  // namespace orbel::client

namespace OrbelDataStreamSDK::Diagnostics {

FrameTaken NewestFrameTaken() noexcept {
  Figures& figures = TheFigures();
  std::lock_guard<std::mutex> guard(figures.lock);
  return figures.newest;
}

}  // namespace OrbelDataStreamSDK::Diagnostics
