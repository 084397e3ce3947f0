#include "fbhost/engine.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <utility>

#include "fbhost/clock.h"
#include "fbhost/devices.h"
#include "fbhost/messages.h"
#include "fbhost/scene.h"
#include "scene_state.h"

namespace {

using fbhost_internal::ListAccess;
using SteadyClock = std::chrono::steady_clock;

std::chrono::nanoseconds ToDuration(FBTime time) {
  // Keep the threads responsive and the arithmetic far from overflow.
  const long long ticks =
      std::clamp<long long>(time.Get(), FBTime::kTicksPerMillisecond, 10 * FBTime::kTicksPerSecond);
  return std::chrono::nanoseconds(ticks * 10000 / 7056);
}

struct EngineState {
  std::mutex lock;  // guards running, stopping, the threads and options
  std::condition_variable wake;
  bool running = false;
  bool stopping = false;
  std::thread input;
  std::thread evaluation;
  fbhost::EngineOptions options;

  std::mutex inputPass;       // one input pass at a time
  std::mutex evaluationPass;  // one evaluation pass at a time
  std::atomic<std::int64_t> inputPasses{0};
  std::atomic<std::int64_t> evaluationPasses{0};
  std::int64_t evaluationId = 0;  // guarded by evaluationPass
};

EngineState& Engine() {
  static EngineState* state = new EngineState;
  return *state;
}

struct TransportState {
  std::mutex lock;  // guards every field
  bool running = false;
  FBTime localAtStart;
  FBTime systemAtStart;
  FBTime stoppedAt;
  // The devices whose recording was started, with the nodes of each.
  std::vector<std::pair<FBDevice*, std::vector<FBAnimationNode*>>> recorded;
};

TransportState& Transport() {
  static TransportState* state = new TransportState;
  return *state;
}

// ---- device calls (no host lock held) ----

void CallInput(FBDevice* device, int action) {
  FBDeviceNotifyInfo info(fbhost::TransportTime(), fbhost::Now());
  device->HostState().inputCalls.fetch_add(1);
  device->SampleInputNotify(action, info);
}

int CurrentInputAction() {
  const auto& flags = fbhost_internal::Transport();
  return flags.recording.load() && flags.playing.load() ? kFBInputSampleRecording : kFBInputSample;
}

// Visits every template of the device's hierarchy once, depth first in the
// order of each template's children (a template reached twice, or a loop,
// is visited once). The caller holds the scene lock.
template <typename Visit>
void ForEachTemplate(FBDevice* device, Visit visit) {
  std::vector<FBComponent*> pending = ListAccess::Items(device->ModelTemplate);
  std::reverse(pending.begin(), pending.end());
  std::set<const FBComponent*> seen;
  while (!pending.empty()) {
    auto* modelTemplate = static_cast<FBModelTemplate*>(pending.back());
    pending.pop_back();
    if (!seen.insert(modelTemplate).second) continue;
    visit(modelTemplate);
    std::vector<FBComponent*> children = ListAccess::Items(modelTemplate->Children);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

// Carries the values of the nodes of every bound template of the device
// into the template's model.
void CarryNodes(FBDevice* device) {
  std::lock_guard<std::recursive_mutex> lock(fbhost_internal::SceneLock());
  ForEachTemplate(device, [](FBModelTemplate* modelTemplate) {
    FBModel* model = modelTemplate->Model.Get();
    if (model == nullptr) return;
    for (FBComponent* item : ListAccess::Items(modelTemplate->AnimationNodes)) {
      auto* node = static_cast<FBAnimationNode*>(item);
      if (node->IsUserData() || !node->IsWritten()) continue;
      double values[3];
      node->ReadData(values);
      if (node->GetDataType() == kFBDataTypeTranslation) {
        model->Translation = FBVector3<double>(values);
      } else if (node->GetDataType() == kFBDataTypeRotation) {
        model->Rotation = FBVector3<double>(values);
      }
    }
  });
}

// The evaluation observer, copied once per pass so that the UI thread may
// replace it while a pass runs.
struct ObserverSlot {
  std::mutex lock;
  std::shared_ptr<const fbhost::EvaluationObserver> observer;
};

ObserverSlot& Observer() {
  static ObserverSlot* slot = new ObserverSlot;
  return *slot;
}

std::shared_ptr<const fbhost::EvaluationObserver> CurrentObserver() {
  auto& slot = Observer();
  std::lock_guard<std::mutex> lock(slot.lock);
  return slot.observer;
}

void EvaluateDevice(FBDevice* device, FBEvaluateInfo& info,
                    const fbhost::EvaluationObserver* observer) {
  auto& host = device->HostState();
  host.evaluationCalls.fetch_add(1);
  if (observer != nullptr) (*observer)(device, fbhost::EvaluationPoint::BeforeNotify);
  if (device->NodeEvaluateNotify(nullptr, &info)) host.evaluationTrue.fetch_add(1);
  if (observer != nullptr) (*observer)(device, fbhost::EvaluationPoint::AfterNotify);
  CarryNodes(device);
}

int EvaluationPass() {
  auto& engine = Engine();
  std::lock_guard<std::mutex> pass(engine.evaluationPass);
  const std::vector<FBDevice*> devices = fbhost_internal::PinOnlineDevices();
  const auto observer = CurrentObserver();
  FBEvaluateInfo info(fbhost::Now(), fbhost::TransportTime(), ++engine.evaluationId);
  for (FBDevice* device : devices) {
    EvaluateDevice(device, info, observer.get());
    fbhost_internal::Unpin(device);
  }
  engine.evaluationPasses.fetch_add(1);
  return static_cast<int>(devices.size());
}

// The recordable nodes of the device's templates, each once, depth first.
std::vector<FBAnimationNode*> RecordableNodes(FBDevice* device) {
  std::lock_guard<std::recursive_mutex> lock(fbhost_internal::SceneLock());
  std::vector<FBAnimationNode*> nodes;
  ForEachTemplate(device, [&](FBModelTemplate* modelTemplate) {
    for (FBComponent* item : ListAccess::Items(modelTemplate->AnimationNodes)) {
      auto* node = static_cast<FBAnimationNode*>(item);
      bool recordable = false;
      if (!device->OwnsNode(node, &recordable) || !recordable) continue;
      if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) nodes.push_back(node);
    }
  });
  return nodes;
}

std::vector<FBDevice*> OnlineDevices() {
  std::vector<FBDevice*> online;
  for (FBDevice* device : fbhost::Devices()) {
    if (device->Online.Get()) online.push_back(device);
  }
  return online;
}

void NotifyTransport(FBTransportMode mode, FBTime time) {
  for (FBDevice* device : OnlineDevices()) {
    {
      auto& host = device->HostState();
      std::lock_guard<std::mutex> lock(host.lock);
      host.transportModes.push_back(mode);
    }
    device->TransportStateNotify(mode, time);
  }
}

void FinishRecording(FBDevice* device, const std::vector<FBAnimationNode*>& nodes) {
  for (FBAnimationNode* node : nodes) {
    if (device->OwnsNode(node)) device->RecordingDoneAnimation(node);
  }
}

bool StartTransport(bool record) {
  auto& transport = Transport();
  FBTime start;
  {
    std::lock_guard<std::mutex> lock(transport.lock);
    if (transport.running) return false;
    start = transport.stoppedAt;
  }
  auto& flags = fbhost_internal::Transport();
  if (record) {
    flags.recording.store(true);
    std::vector<std::pair<FBDevice*, std::vector<FBAnimationNode*>>> recorded;
    for (FBDevice* device : OnlineDevices()) {
      if (!device->Recording.Get()) continue;
      std::vector<FBAnimationNode*> nodes = RecordableNodes(device);
      for (FBAnimationNode* node : nodes) device->RecordingInitAnimation(node);
      recorded.emplace_back(device, std::move(nodes));
    }
    std::lock_guard<std::mutex> lock(transport.lock);
    transport.recorded = std::move(recorded);
  }
  NotifyTransport(kFBTransportStart, start);
  {
    std::lock_guard<std::mutex> lock(transport.lock);
    transport.running = true;
    transport.localAtStart = start;
    transport.systemAtStart = fbhost::Now();
  }
  {
    // Devices see the transport change between two samples, never inside
    // one: a sample is keyed whole or not at all.
    std::lock_guard<std::mutex> pass(Engine().inputPass);
    flags.playing.store(true);
  }
  return true;
}

// ---- threads ----

void InputThread() {
  auto& engine = Engine();
  std::map<FBDevice*, SteadyClock::time_point> due;
  for (;;) {
    SteadyClock::time_point wakeAt = SteadyClock::now() + std::chrono::milliseconds(5);
    {
      std::lock_guard<std::mutex> pass(engine.inputPass);
      const std::vector<FBDevice*> devices = fbhost_internal::PinOnlineDevices();
      std::map<FBDevice*, SteadyClock::time_point> nextDue;
      const int action = CurrentInputAction();
      for (FBDevice* device : devices) {
        const auto now = SteadyClock::now();
        const auto period = ToDuration(device->SamplingPeriod.Get());
        const auto found = due.find(device);
        SteadyClock::time_point next = found == due.end() ? now : found->second;
        if (now >= next) {
          CallInput(device, action);
          // Keep the rhythm, but do not try to catch up after a stall.
          next = now - next > period ? now + period : next + period;
        }
        nextDue[device] = next;
        wakeAt = std::min(wakeAt, next);
        fbhost_internal::Unpin(device);
      }
      due.swap(nextDue);  // forgets devices that left
      if (!devices.empty()) engine.inputPasses.fetch_add(1);
    }
    std::unique_lock<std::mutex> lock(engine.lock);
    if (engine.wake.wait_until(lock, wakeAt, [&engine] { return engine.stopping; })) return;
  }
}

void EvaluationThread(FBTime periodTime) {
  auto& engine = Engine();
  const auto period = ToDuration(periodTime);
  auto next = SteadyClock::now();
  for (;;) {
    EvaluationPass();
    const auto now = SteadyClock::now();
    next = now - next > period ? now + period : next + period;
    std::unique_lock<std::mutex> lock(engine.lock);
    if (engine.wake.wait_until(lock, next, [&engine] { return engine.stopping; })) return;
  }
}

}  // namespace

namespace fbhost_internal {

void ForgetRecordedDevice(FBDevice* device) {
  auto& transport = ::Transport();
  std::vector<FBAnimationNode*> nodes;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(transport.lock);
    auto& recorded = transport.recorded;
    for (auto it = recorded.begin(); it != recorded.end(); ++it) {
      if (it->first == device) {
        nodes = std::move(it->second);
        recorded.erase(it);
        found = true;
        break;
      }
    }
  }
  if (found) FinishRecording(device, nodes);
}

void StopTransportForReset() { fbhost::TransportStop(); }

}  // namespace fbhost_internal

namespace fbhost {

bool StartEngine(const EngineOptions& options) {
  auto& engine = Engine();
  std::lock_guard<std::mutex> lock(engine.lock);
  if (engine.running) return false;
  engine.running = true;
  engine.stopping = false;
  engine.options = options;
  engine.input = std::thread(InputThread);
  engine.evaluation = std::thread(EvaluationThread, options.evaluationPeriod);
  return true;
}

void StopEngine() {
  auto& engine = Engine();
  std::thread input;
  std::thread evaluation;
  {
    std::lock_guard<std::mutex> lock(engine.lock);
    if (!engine.running) return;
    engine.stopping = true;
    input = std::move(engine.input);
    evaluation = std::move(engine.evaluation);
  }
  engine.wake.notify_all();
  input.join();
  evaluation.join();
  std::lock_guard<std::mutex> lock(engine.lock);
  engine.running = false;
  engine.stopping = false;
}

bool EngineRunning() {
  auto& engine = Engine();
  std::lock_guard<std::mutex> lock(engine.lock);
  return engine.running;
}

int StepInput() {
  auto& engine = Engine();
  std::lock_guard<std::mutex> pass(engine.inputPass);
  const std::vector<FBDevice*> devices = fbhost_internal::PinOnlineDevices();
  const int action = CurrentInputAction();
  for (FBDevice* device : devices) {
    CallInput(device, action);
    fbhost_internal::Unpin(device);
  }
  engine.inputPasses.fetch_add(1);
  return static_cast<int>(devices.size());
}

bool NotifySampleInput(FBDevice* device, int action) {
  auto& engine = Engine();
  std::lock_guard<std::mutex> pass(engine.inputPass);
  if (!fbhost_internal::PinOnlineDevice(device)) return false;
  CallInput(device, action);
  fbhost_internal::Unpin(device);
  return true;
}

int StepEvaluation() { return EvaluationPass(); }

void SetEvaluationObserver(EvaluationObserver observer) {
  std::shared_ptr<const EvaluationObserver> next;
  if (observer) next = std::make_shared<const EvaluationObserver>(std::move(observer));
  auto& slot = Observer();
  std::lock_guard<std::mutex> lock(slot.lock);
  slot.observer = std::move(next);
}

std::int64_t InputPassCount() { return Engine().inputPasses.load(); }
std::int64_t EvaluationPassCount() { return Engine().evaluationPasses.load(); }

bool TransportPlay() { return StartTransport(false); }
bool TransportRecord() { return StartTransport(true); }

bool TransportStop() {
  auto& transport = Transport();
  {
    std::lock_guard<std::mutex> lock(transport.lock);
    if (!transport.running) return false;
  }
  auto& flags = fbhost_internal::Transport();
  {
    std::lock_guard<std::mutex> pass(Engine().inputPass);
    flags.playing.store(false);
  }
  const FBTime stopTime = TransportTime();
  std::vector<std::pair<FBDevice*, std::vector<FBAnimationNode*>>> recorded;
  {
    std::lock_guard<std::mutex> lock(transport.lock);
    transport.running = false;
    transport.stoppedAt = stopTime;
    recorded.swap(transport.recorded);
  }
  NotifyTransport(kFBTransportStop, stopTime);
  for (const auto& [device, nodes] : recorded) FinishRecording(device, nodes);
  flags.recording.store(false);
  for (FBTake* take : Takes()) take->ReleaseSpareKeyMemory();
  return true;
}

bool TransportSetTime(FBTime time) {
  auto& transport = Transport();
  std::lock_guard<std::mutex> lock(transport.lock);
  if (transport.running) return false;
  transport.stoppedAt = time;
  return true;
}

FBTime TransportTime() {
  auto& transport = Transport();
  std::lock_guard<std::mutex> lock(transport.lock);
  if (!transport.running) return transport.stoppedAt;
  return transport.localAtStart + (fbhost::Now() - transport.systemAtStart);
}

bool TransportPlaying() {
  auto& transport = Transport();
  std::lock_guard<std::mutex> lock(transport.lock);
  return transport.running;
}

bool TransportRecording() { return fbhost_internal::Transport().recording.load(); }

}  // namespace fbhost
