// fbhost/engine.h: the host's input and evaluation threads (or single steps
// of them, for tests), and the transport.
//
// Side of the boundary: host runtime. Link fbsdk::runtime.
//
// Input. One input pass calls SampleInputNotify on every online device of
// the scene whose sampling period has come round, with action
// kFBInputSampleRecording while the transport records and kFBInputSample
// otherwise, and an FBDeviceNotifyInfo holding the transport's time and
// the host clock's time. The input thread runs passes continuously, each
// device at its own SamplingPeriod (by the real monotonic clock).
//
// Evaluation. One evaluation pass calls NodeEvaluateNotify on every online
// device, then carries the nodes of each device's bound templates into
// their models (fbmodeltemplate.h). The evaluation thread runs a pass every
// evaluation period.
//
// The two threads run at the same time, as a real host's do; neither holds a
// host lock while it calls a device. Manual steps (StepInput,
// StepEvaluation) do the same work on the caller's thread, calling every
// online device regardless of its period, and may be used while the threads
// run: at most one input pass and one evaluation pass run at a time.
//
// Transport. Play and Record start the transport at its current time; Stop
// stops it. The transport's time runs with the host clock (fbhost/clock.h)
// while it plays. Order of a recording start: IsRecording := true;
// RecordingInitAnimation for each recordable node of the templates of
// every online device whose Recording flag is set; TransportStateNotify(
// kFBTransportStart, time) on every online device; IsPlaying := true. Play
// is the same without the first two steps. Stop: IsPlaying := false;
// TransportStateNotify(kFBTransportStop, time) on every online device;
// RecordingDoneAnimation for the nodes whose recording was started;
// IsRecording := false.
//
// Threads: every function is for the UI thread, except the read-only
// queries, which any thread may call.
#pragma once

#include <cstdint>
#include <functional>

#include "fbsdk/fbdevice.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbtime.h"

namespace fbhost {

struct EngineOptions {
  // How often the evaluation thread runs a pass (by the real monotonic
  // clock). Values below 1 ms are taken as 1 ms.
  FBTime evaluationPeriod = FBTime(FBTime::kTicksPerSecond / 60);
};

// Starts both threads; false when they already run.
FBSDK_API bool StartEngine(const EngineOptions& options = EngineOptions());
// Stops both threads and waits for them; a no-op when they do not run.
FBSDK_API void StopEngine();
FBSDK_API bool EngineRunning();

// One input pass on the caller's thread; answers the number of devices called.
FBSDK_API int StepInput();
// One SampleInputNotify call on one online device of the scene, with any
// action number; false when the device is not online in the scene.
FBSDK_API bool NotifySampleInput(FBDevice* device, int action);
// One evaluation pass on the caller's thread; answers the number of devices
// evaluated.
FBSDK_API int StepEvaluation();

// Watching evaluation, for a host program that measures it (the delay from
// a capture server's send to the node write, say). The observer runs on the
// evaluating thread (the evaluation thread, or the caller of
// StepEvaluation), right before and right after each device's
// NodeEvaluateNotify, with no host lock held; it must be quick and must not
// throw. Setting it is safe while the threads run: a pass already under way
// may still call the observer it started with. An empty function removes it.
enum class EvaluationPoint { BeforeNotify, AfterNotify };
using EvaluationObserver = std::function<void(FBDevice* device, EvaluationPoint point)>;
FBSDK_API void SetEvaluationObserver(EvaluationObserver observer);

// Passes run since the process started (any thread).
FBSDK_API std::int64_t InputPassCount();
FBSDK_API std::int64_t EvaluationPassCount();

// The transport. Play and Record answer false (and do nothing) while the
// transport runs; Stop answers false when it does not run.
FBSDK_API bool TransportPlay();
FBSDK_API bool TransportRecord();
FBSDK_API bool TransportStop();
// Moves the stopped transport to a time; false while it runs.
FBSDK_API bool TransportSetTime(FBTime time);
// The transport's time now (any thread).
FBSDK_API FBTime TransportTime();
FBSDK_API bool TransportPlaying();
FBSDK_API bool TransportRecording();

}  // namespace fbhost
