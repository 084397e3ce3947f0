// A scripted stream client: the same OrbelDataStreamSDK::CPP::Client class
// (same header) with behaviour set by the test and every call recorded, for
// tests that need exact call sequences or exact timing. Linked into a test
// build of the reader in place of the real client library.
//
// Every Client object answers from the one Script installed at the time of
// the call (InstallScript), so a test can set the scene up before the reader
// creates its client and keep inspecting after the reader is gone. Calls are
// serialised on one lock, as the real client serialises them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <OrbelDataStreamSDK/Client.h>

namespace orbel::testing {

namespace sdk = OrbelDataStreamSDK::CPP;

struct ScriptedSegment {
  std::string name;
  std::string parent;  // empty for a root
  std::array<double, 3> translation{};
  std::array<double, 4> rotation{0, 0, 0, 1};  // x, y, z, w
};

struct ScriptedMarker {
  std::string name;
  std::array<double, 3> position{};
};

struct ScriptedSubject {
  std::string name;  // may be empty on purpose
  std::vector<ScriptedSegment> segments;
  std::vector<ScriptedMarker> markers;
};

struct ScriptedCall {
  std::string name;      // operation name, e.g. "Connect"
  std::string argument;  // the text or numbers passed, joined by ','
  std::int64_t atMs;     // Script::nowMs at the call
};

struct Script {
  // ---- behaviour ----
  bool reachable = true;         // Connect connects
  int connectFailuresFirst = 0;  // this many Connect calls fail before one succeeds
  bool connected = false;        // current connection state
  bool acknowledgeKinds = true;  // enable/disable calls change the reported flags
  sdk::Result::Enum frameResult = sdk::Result::Success;
  // Each successful GetFrame takes a new frame with the next number.
  unsigned int frameNumber = 0;
  sdk::Result::Enum disconnectResult = sdk::Result::Success;
  std::vector<ScriptedSubject> subjects;
  std::vector<std::array<double, 3>> unlabeled;
  sdk::Output_GetTimecode timecode;
  // Stamps recorded calls; tests point it at their clock.
  std::function<std::int64_t()> nowMs = [] { return std::int64_t{0}; };
  bool record = true;  // off for long-running tests

  // ---- state the client reports ----
  bool segmentsEnabled = false;
  bool markersEnabled = false;
  bool unlabeledEnabled = false;
  bool deviceEnabled = false;
  std::array<int, 3> axes{4, 0, 3};
  int streamMode = -1;

  // ---- record ----
  std::vector<ScriptedCall> calls;
  int Count(const std::string& name) const;
  std::vector<ScriptedCall> CallsNamed(const std::string& name) const;
  // Names of the recorded calls in order, skipping the given ones.
  std::vector<std::string> Sequence(const std::vector<std::string>& skip = {}) const;
  void ClearCalls() { calls.clear(); }

  // The lock every scripted call holds; a test that changes the script while
  // another thread calls the client holds it too.
  std::mutex& Lock();
};

// Installs the script for every Client; nullptr uninstalls. The script must
// outlive every call made while it is installed.
void InstallScript(Script* script);

// Installs a script for a scope.
class ScopedScript {
 public:
  explicit ScopedScript(Script& script) { InstallScript(&script); }
  ScopedScript(const ScopedScript&) = delete;
  ScopedScript& operator=(const ScopedScript&) = delete;
  ~ScopedScript() { InstallScript(nullptr); }
};

}  // namespace orbel::testing
