// Ctrl-C and SIGTERM in the host program. A recording or a wait is what a
// user interrupts, and what an interrupt must not lose: so the first
// SIGINT while a command runs only asks it to stop (the take is kept, the
// prompt comes back), as does the first SIGINT at the prompt while a
// recording runs; SIGINT at an idle prompt, or a second one, ends the
// program as it always did. SIGTERM asks the whole program to end
// cleanly: the running command stops, no further command runs, devices go
// offline and settings are left intact.
//
// The handler only stores into lock-free atomics (async-signal-safe); the
// shell looks at them between steps of its work. Nothing happens until
// Install is called, so tests that run a shell in their own process keep
// their signals.
#pragma once

namespace orbel::hostapp::interrupts {

// Installs the handlers for SIGINT and SIGTERM (once; later calls do
// nothing). Without SA_RESTART, so that a blocking read of the next
// command returns when SIGTERM arrives.
void Install();

// A command is running: the first SIGINT meanwhile only sets Interrupted.
class BusyScope {
 public:
  BusyScope();
  ~BusyScope();
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// A recording runs on between commands (`record` without a time): the
// first SIGINT at the prompt then stops it rather than end the program.
void SetRecording(bool recording);

// A SIGINT asked the running command to stop (and not yet cleared).
bool Interrupted();
void ClearInterrupted();
// A SIGTERM asked the program to end.
bool TerminateRequested();
// The running command should stop: either of the two above.
inline bool StopRequested() { return Interrupted() || TerminateRequested(); }

}  // namespace orbel::hostapp::interrupts
