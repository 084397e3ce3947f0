// The host program's command shell: the commands a user types (or lists in
// a script) to load plug-ins, add devices, work their panels, bind, record,
// save and export. `help` lists them; hostapp/COMMANDS.md describes them.
//
// Threads. The shell is the host's UI thread: every command runs on the
// thread that calls Run. In the normal mode the host's input and evaluation
// threads run from construction to destruction (fbhost/engine.h) and the
// host clock is real. In step mode (for tests and debugging) no thread
// runs: a manual clock stands still until `step` advances it and runs one
// input and one evaluation pass per step, so what happens is exactly
// repeatable; `wait` and `record SECONDS` then step through their time.
//
// Errors. A command that fails prints one line on the error stream,
// "orbel-host: error: ..." (with the script and line when it came from a
// file) quoting what was wrong, changes nothing it could avoid changing,
// and answers false. No command throws.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fbhost/clock.h>
#include <fbhost/panel.h>
#include <fbsdk/fbdevice.h>
#include <fbsdk/fbtake.h>

#include "completion.h"
#include "live_stats.h"
#include "scene_gate.h"
#include "take_safety.h"
#include "view_server.h"

namespace orbel::hostapp {

struct ShellOptions {
  // No engine threads; a manual clock driven by `step` (see above).
  bool stepMode = false;
  // How long one `step` advances the clock, and the step `wait` uses in
  // step mode. More than the reader's fetch interval (11 ms), so that every
  // step can fetch a frame.
  int stepMilliseconds = 20;
  // Show the live status line during `wait` and `record`.
  bool statusLine = true;
  // ${NAME} values for the commands (orbel-host --set NAME=VALUE).
  std::map<std::string, std::string> variables;
  // How often the evaluation thread runs.
  FBTime evaluationPeriod = FBTime(FBTime::kTicksPerSecond / 120);
};

class Shell {
 public:
  // out: command results and dumps; err: errors, notes and the status line.
  Shell(ShellOptions options, std::FILE* out, std::FILE* err);
  // Closes the panels, stops the transport and the engine, and empties the
  // scene (every device goes offline and shuts down).
  ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // Runs one command line. where: prefix for error messages ("demo.orbs:3").
  bool Run(const std::string& line, const std::string& where = std::string());
  // Runs "cmd; cmd; ...", stopping at the first failure.
  bool RunCommands(const std::string& text);
  // Runs a script file line by line, stopping at the first failure.
  bool RunScript(const std::string& path);
  // Reads commands from `in` until end of input or `quit`; a failed command
  // does not end the session. Prompts when `in` is a terminal. Answers
  // whether every command succeeded.
  bool RunInteractive(std::FILE* in);

  // Tab completion of the line up to the cursor: commands, their words,
  // device, take and model names, files.
  Completion Complete(const std::string& left);

  bool QuitRequested() const { return mQuit; }
  // The last error message (without the "orbel-host: error: " prefix).
  const std::string& LastError() const { return mLastError; }
  LiveStats& Stats() { return *mStats; }
  // The manual clock in step mode (null otherwise).
  fbhost::ManualClock* Clock() { return mClock.get(); }
  // The live view while it is on (view on), else null.
  const ViewServer* View() const { return mView.get(); }

 private:
  using Words = std::vector<std::string>;
  struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    bool (Shell::*run)(const Words& words);
    int minWords;  // including the command's name
    int maxWords;  // -1: any
  };
  static const std::vector<Command>& Commands();

  bool Fail(const std::string& message);
  // After a command of a script or of -c: true (with a note) when a signal
  // asked the script to stop; SIGTERM also ends the session.
  bool StoppedBySignal(const std::string& where);
  void Say(const std::string& text);
  void Warn(const std::string& text);
  void Note(const std::string& text);

  // ---- lookups ----
  FBDevice* FindDevice(const std::string& name);
  FBTake* FindTake(const std::string& name);
  fbhost::Panel* PanelFor(FBDevice* device);
  void ClosePanel(FBDevice* device);
  void CloseAllPanels();
  std::string DeviceNames() const;

  // ---- time ----
  // Lets `seconds` pass: real time with the status line, or steps. False
  // when Ctrl-C or SIGTERM cut it short (see interrupts.h).
  bool PassTime(double seconds, const std::string& activity);
  void Step(int count);
  std::string StatusLine(const std::string& activity);
  void ClearStatusLine();

  // ---- commands ----
  bool CmdHelp(const Words& w);
  bool CmdPlugins(const Words& w);
  bool CmdList(const Words& w);
  bool CmdAdd(const Words& w);
  bool CmdRemove(const Words& w);
  bool CmdDevices(const Words& w);
  bool CmdOp(const Words& w);
  bool CmdOnline(const Words& w);
  bool CmdArm(const Words& w);
  bool CmdPanel(const Words& w);
  bool CmdBind(const Words& w);
  bool CmdUnbind(const Words& w);
  bool CmdPlay(const Words& w);
  bool CmdRecord(const Words& w);
  bool CmdStop(const Words& w);
  bool CmdWait(const Words& w);
  bool CmdStep(const Words& w);
  bool CmdStatus(const Words& w);
  bool CmdTake(const Words& w);
  bool CmdSave(const Words& w);
  bool CmdLoad(const Words& w);
  bool CmdExportBvh(const Words& w);
  bool CmdExportCsv(const Words& w);
  bool CmdExportGltf(const Words& w);
  bool CmdView(const Words& w);
  bool CmdDump(const Words& w);
  bool CmdEcho(const Words& w);
  bool CmdQuit(const Words& w);

  // Writes a command's output file, or prints it when path is "-".
  bool Emit(const std::string& path, const std::string& text, const std::string& what);

  ShellOptions mOptions;
  std::FILE* mOut;
  std::FILE* mErr;
  std::unique_ptr<fbhost::ManualClock> mClock;
  std::unique_ptr<fbhost::ScopedClock> mClockGuard;
  std::unique_ptr<LiveStats> mStats;
  // Held while a command runs: the view reads the scene only between them
  // (and while 'wait' and 'record' sleep).
  SceneGate mGate;
  std::unique_ptr<ViewServer> mView;
  std::map<FBDevice*, std::unique_ptr<fbhost::Panel>> mPanels;
  std::string mLastError;
  std::string mWhere;
  bool mQuit = false;
  bool mStatusShown = false;
  bool mErrIsTerminal = false;
  // For the frames-per-second figure of the status line.
  std::uint64_t mRateFrames = 0;
  std::int64_t mRateSinceNs = 0;
  double mRate = 0.0;
  // Recording: the window the summary reports.
  std::uint64_t mRecordFramesAtStart = 0;
  std::uint64_t mRecordMissedAtStart = 0;
  std::uint64_t mRecordNonFiniteAtStart = 0;
  KeyCounts mRecordKeysAtStart;
  // fbhost::TakesRevision at the last save or load: takes changed since
  // then are not thrown away without a word.
  std::uint64_t mSavedTakesRevision = 0;
  // Reading commands at the prompt (RunInteractive), where a quit with
  // unsaved takes asks once.
  bool mInteractive = false;
  bool mQuitWarned = false;
  // A signal stopped the last command (see interrupts.h).
  bool mCutShort = false;
};

}  // namespace orbel::hostapp
