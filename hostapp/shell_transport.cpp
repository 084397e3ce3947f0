// The shell's transport commands: play, record, stop, and the passing of
// time.
#include "shell.h"

#include <algorithm>

#include <fbhost/fbhost.h>

#include "command_words.h"
#include "interrupts.h"
#include "shell_parts.h"

namespace orbel::hostapp {

using namespace shell_parts;

bool Shell::CmdPlay(const Words&) {
  if (!fbhost::TransportPlay()) return Fail("the transport is already running (use 'stop')");
  Say("playing");
  return true;
}

bool Shell::CmdRecord(const Words& w) {
  double seconds = 0.0;
  std::string error;
  if (w.size() > 1 && !ParseSeconds(w[1], &seconds, &error)) return Fail(error);
  if (fbhost::TransportPlaying()) return Fail("the transport is already running (use 'stop')");
  std::vector<std::string> armed;
  for (FBDevice* device : fbhost::Devices()) {
    if (device->Online.Get() && device->Recording.Get()) {
      armed.push_back(device->GetLabelName().str());
    }
  }
  if (armed.empty()) {
    return Fail("no online device is armed for recording (use 'arm DEVICE on'; devices: " +
                DeviceNames() + ")");
  }
  const LiveFigures before = mStats->Figures();
  mRecordFramesAtStart = before.framesFetched;
  mRecordMissedAtStart = before.framesMissed;
  mRecordNonFiniteAtStart = before.nonFiniteAnswers;
  FBTake* take = fbhost::CurrentTake();
  mRecordKeysAtStart = take != nullptr ? CountKeys(*take) : KeyCounts();
  mStats->ResetLatency();
  if (!fbhost::TransportRecord()) return Fail("the transport did not start");
  interrupts::SetRecording(true);
  Say("recording " + JoinQuoted(armed) + " into take " +
      Quote(take != nullptr ? take->GetLabelName().str() : std::string()) +
      (w.size() > 1 ? " for " + Format("%g", seconds) + " s" : std::string(" until 'stop'")));
  if (w.size() == 1) return true;
  const bool full = PassTime(seconds, "recording");
  if (!full) Note("recording stopped early by a signal; the take keeps what was recorded");
  const Words stop = {"stop"};
  return CmdStop(stop);
}

bool Shell::CmdStop(const Words&) {
  const bool recording = fbhost::TransportRecording();
  if (!fbhost::TransportStop()) return Fail("the transport is not running");
  interrupts::SetRecording(false);
  if (!recording) {
    Say("stopped");
    return true;
  }
  FBTake* take = fbhost::CurrentTake();
  const LiveFigures after = mStats->Figures();
  const LatencySummary& latency = after.latency;
  const int samples = take != nullptr ? SamplesKeyedSince(*take, mRecordKeysAtStart) : 0;
  std::string text = "recorded take " +
                     Quote(take != nullptr ? take->GetLabelName().str() : std::string()) + ": " +
                     Counted(static_cast<std::size_t>(samples), "sample") + " keyed, " +
                     Counted(after.framesFetched - mRecordFramesAtStart, "frame") + " fetched, " +
                     std::to_string(after.framesMissed - mRecordMissedAtStart) + " missed";
  if (latency.samples > 0) {
    text += ", latency mean " + Format("%.2f", latency.meanMs) + " ms (median " +
            Format("%.2f", latency.medianMs) + ", p95 " + Format("%.2f", latency.p95Ms) + ", max " +
            Format("%.2f", latency.maxMs) + ")";
  }
  const std::uint64_t nonFinite = after.nonFiniteAnswers - mRecordNonFiniteAtStart;
  if (nonFinite > 0) {
    text += "; " + std::to_string(nonFinite) +
            " poses or positions came with values that are not numbers and were treated as "
            "occluded (not keyed)";
  }
  Say(text);
  std::vector<FBDevice*> armed;
  bool unlabeled = false;
  for (FBDevice* device : fbhost::Devices()) {
    if (!device->Online.Get() || !device->Recording.Get()) continue;
    armed.push_back(device);
    const auto subjects = SubjectsOf(device);
    unlabeled =
        unlabeled || std::find(subjects.begin(), subjects.end(), "Unlabeled") != subjects.end();
  }
  if (unlabeled)
    Note(
        "unlabelled markers are streamed but never keyed; a take holds bones and labelled markers");
  if (samples == 0) {
    for (const std::string& reason : WhyNothingKeyed(armed, kDeviceSettingsFile)) {
      Note("nothing was keyed: " + reason);
    }
  }
  return true;
}

bool Shell::CmdWait(const Words& w) {
  double seconds = 0.0;
  std::string error;
  if (!ParseSeconds(w[1], &seconds, &error)) return Fail(error);
  if (!PassTime(seconds, fbhost::TransportRecording() ? "recording" : "waiting")) {
    if (fbhost::TransportRecording()) {
      Note("wait stopped early by a signal; the recording stops and the take is kept");
      const Words stop = {"stop"};
      return CmdStop(stop);
    }
    Note("wait stopped early by a signal");
  }
  return true;
}

bool Shell::CmdStep(const Words& w) {
  if (!mOptions.stepMode) {
    return Fail("'step' works in step mode only (orbel-host --step-mode); use 'wait'");
  }
  long long count = 1;
  std::string error;
  if (w.size() > 1 && !ParseInteger(w[1], 1, 1000000, &count, &error)) return Fail(error);
  Step(static_cast<int>(count));
  return true;
}

bool Shell::CmdStatus(const Words&) {
  Say(StatusLine(fbhost::TransportRecording() ? "recording" : ""));
  return true;
}

}  // namespace orbel::hostapp
