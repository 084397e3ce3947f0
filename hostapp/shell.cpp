#include "shell.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <set>
#include <thread>

#include <fbhost/fbhost.h>
#include <fbsdk/fbcontrols.h>
#include <fbsdk/fbmodel.h>
#include <fbsdk/fbmodeltemplate.h>

#include "bvh_export.h"
#include "command_guide.h"
#include "command_words.h"
#include "csv_export.h"
#include "dumps.h"
#include "file_output.h"
#include "gltf_export.h"
#include "interrupts.h"
#include "line_editor.h"

namespace orbel::hostapp {

namespace {

// Scripts are small; anything bigger is not one.
constexpr std::size_t kMaxScriptBytes = 16u << 20;
// How often, and how far apart, `bind` binds again while the device has
// not read the server's description.
constexpr int kBindRetries = 25;
constexpr int kBindRetryMs = 20;
// The settings file of the project's device, the default of `dump settings`.
constexpr const char* kDeviceSettingsFile = "@OrbelOpticalDevice.txt";
// Where the live view listens unless told.
constexpr int kDefaultViewPort = 7700;

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The subject names a device offers: the prefixes of the null templates
// right below its root template.
std::vector<std::string> SubjectsOf(FBDevice* device) {
  std::vector<std::string> subjects;
  FBModelTemplate* root = device->ModelTemplate[0];
  if (root == nullptr) return subjects;
  for (int i = 0; i < root->Children.GetCount(); ++i) {
    FBModelTemplate* child = root->Children[i];
    if (child != nullptr && child->Style.Get() == kFBModelTemplateNull) {
      subjects.push_back(child->Prefix.Get().str());
    }
  }
  return subjects;
}

std::string JoinQuoted(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ", ") + Quote(item);
  return text.empty() ? "none" : text;
}

// Pulls "--name VALUE" out of the words; false with an error when the
// option has no value.
bool TakeOption(std::vector<std::string>* words, const std::string& name, std::string* value,
                std::string* error) {
  for (std::size_t i = 0; i < words->size(); ++i) {
    if ((*words)[i] != name) continue;
    if (i + 1 >= words->size()) {
      *error = "option " + Quote(name) + " needs a value";
      return false;
    }
    *value = (*words)[i + 1];
    words->erase(words->begin() + static_cast<std::ptrdiff_t>(i),
                 words->begin() + static_cast<std::ptrdiff_t>(i + 2));
    return true;
  }
  return true;
}

bool TakeFlag(std::vector<std::string>* words, const std::string& name) {
  const auto found = std::find(words->begin(), words->end(), name);
  if (found == words->end()) return false;
  words->erase(found);
  return true;
}

bool UnknownOption(const std::vector<std::string>& words, std::string* error) {
  for (const auto& word : words) {
    if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
      *error = "unknown option " + Quote(word);
      return true;
    }
  }
  return false;
}

// Why a panel control refuses input, in the user's words: what is locked,
// what was not taken, and what unlocks it.
std::string LockedControl(const std::string& action, const std::string& name,
                          const FBDevice& device, const std::string& value) {
  static const std::pair<const char*, const char*> kTitles[] = {
      {"count", "the marker count"},
      {"unlabeled", "\"Stream Unlabeled Markers\""},
      {"timecode", "\"Use Timecode\""},
      {"strip", "\"Remove Character Name from Object Name\""},
      {"pause", "\"Pause Live Streaming\""},
      {"remove-unused", "\"Remove Unused Characters\""}};
  std::string title = "the panel's " + action + " control";
  for (const auto& [key, text] : kTitles) {
    if (action == key) title = text;
  }
  const std::string who = "device " + Quote(name);
  const std::string untaken = value.empty() ? "" : ", so " + Quote(value) + " was not taken";
  if (action == "pause" || action == "remove-unused") {
    return title + " works only while " + who + " is live: put it online and bind it first";
  }
  if (device.Online.Get()) {
    return title + " is locked while " + who + " is online" + untaken +
           ": take it offline first ('online " + name + " off'), then try again";
  }
  if (action == "strip") {
    return title + " stays locked once " + who + " has started" + untaken +
           ": initialise it again first ('op " + name + " init')";
  }
  return title + " is disabled" + untaken;
}

// A port the stream client can use: a decimal number from 1 to 65535.
bool IsPort(const std::string& text) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return value >= 1 && value <= 65535;
}

// What is wrong with an entry the panel kept (set-port, set-address) or
// changed (count); empty when nothing is.
std::string DoubtfulEntry(const std::string& action, const std::string& typed,
                          const std::string& shown) {
  if (action == "set-port" && !IsPort(shown)) {
    return "the port " + Quote(shown) +
           " is not a number from 1 to 65535: the device cannot connect until it is (the panel "
           "keeps it as typed)";
  }
  if (action == "set-address" && shown.empty()) {
    return "the server address is empty: the device cannot connect until it is set";
  }
  if (action == "count" && typed != shown) {
    long long number = 0;
    std::string error;
    const bool inRange = ParseInteger(typed, 0, 1LL << 40, &number, &error);
    if (inRange && std::to_string(number) == shown) return std::string();
    const bool whole = inRange || error.find("out of range") != std::string::npos;
    return "the marker count " + Quote(typed) +
           (whole ? " is out of range" : " is not a whole number") + ": the device uses " + shown;
  }
  return std::string();
}

int KeyedSamples(FBTake* take) {
  int most = 0;
  if (take == nullptr) return 0;
  for (const FBTakeCurve& curve : take->GetCurves()) most = std::max(most, curve.keyCount);
  return most;
}

}  // namespace

// ---- the command table -------------------------------------------------

const std::vector<Shell::Command>& Shell::Commands() {
  static const std::vector<Command> commands = {
      {"help", "help [COMMAND]", "list the commands, or explain one", &Shell::CmdHelp, 1, 2},
      {"plugins", "plugins FOLDER", "load every plug-in library (lib*.so) in a folder",
       &Shell::CmdPlugins, 2, 2},
      {"list", "list", "show the loaded plug-ins and what they registered", &Shell::CmdList, 1, 1},
      {"add", "add LABEL [NAME]",
       "add a device by its registered label (\"Orbel Stream Device\"), optionally naming it",
       &Shell::CmdAdd, 2, 3},
      {"remove", "remove DEVICE", "take a device out of the scene (it goes offline and shuts down)",
       &Shell::CmdRemove, 2, 2},
      {"devices", "devices", "list the scene's devices with their flags and status",
       &Shell::CmdDevices, 1, 1},
      {"op", "op DEVICE init|start|stop|reset|shutdown|NUMBER",
       "run a device operation as the host's menu would", &Shell::CmdOp, 3, 3},
      {"online", "online DEVICE on|off", "switch a device online (connects) or offline",
       &Shell::CmdOnline, 3, 3},
      {"arm", "arm DEVICE on|off", "choose whether a recording records this device", &Shell::CmdArm,
       3, 3},
      {"panel", "panel DEVICE ACTION [VALUE]",
       "use the device's settings panel: set-address HOST, set-port PORT, axis Y-Up|Z-Up, "
       "bones on|off, markers on|off, unlabeled on|off, count N, timecode on|off, strip on|off, "
       "pause, remove-unused, show, render FILE.png|FILE.svg",
       &Shell::CmdPanel, 3, 4},
      {"bind", "bind DEVICE [new|MODEL]",
       "bind the device's root template again to its model (a new one when it has none, or "
       "with 'new'), or to the model with that label",
       &Shell::CmdBind, 2, 3},
      {"unbind", "unbind DEVICE", "unbind the device's root template", &Shell::CmdUnbind, 2, 2},
      {"play", "play", "start the transport without recording", &Shell::CmdPlay, 1, 1},
      {"record", "record [SECONDS]",
       "record the armed devices into the current take, for SECONDS or until 'stop'",
       &Shell::CmdRecord, 1, 2},
      {"stop", "stop", "stop the transport (and a recording)", &Shell::CmdStop, 1, 1},
      {"wait", "wait SECONDS", "let time pass, showing the live status line", &Shell::CmdWait, 2,
       2},
      {"step", "step [COUNT]",
       "step mode only: advance the clock one step and run one input and one evaluation pass, "
       "COUNT times",
       &Shell::CmdStep, 1, 2},
      {"status", "status", "print the live status line once", &Shell::CmdStatus, 1, 1},
      {"take", "take list|new NAME|use NAME",
       "list the takes, make a new current take, or pick one", &Shell::CmdTake, 2, 3},
      {"save", "save FILE", "save the scene (models, devices and takes) to a scene file",
       &Shell::CmdSave, 2, 2},
      {"load", "load FILE [--discard]",
       "replace the scene with the one in a scene file (--discard: drop unsaved takes)",
       &Shell::CmdLoad, 2, 3},
      {"export-bvh", "export-bvh FILE [TAKE] [--subject NAME]",
       "write the recorded skeleton motion as BVH ('-' prints it)", &Shell::CmdExportBvh, 2, 5},
      {"export-csv", "export-csv FILE [TAKE] [--subject NAME]",
       "write the recorded marker curves as CSV ('-' prints it)", &Shell::CmdExportCsv, 2, 5},
      {"export-gltf", "export-gltf FILE.glb [TAKE] [--subject NAME]",
       "write the recorded skeletons and labelled markers as binary glTF", &Shell::CmdExportGltf, 2,
       5},
      {"view", "view [on [PORT]|off]",
       "serve the live 3D view on 127.0.0.1 (default port 7700; 0 picks a free one)",
       &Shell::CmdView, 1, 3},
      {"dump", "dump device|templates|scene|settings|take|stats [NAME] [--keys] [--out FILE]",
       "print (or write) JSON: a device, its templates, the scene, a settings file, a take, or "
       "the streaming figures",
       &Shell::CmdDump, 2, 6},
      {"echo", "echo [TEXT...]", "print the text", &Shell::CmdEcho, 1, -1},
      {"quit", "quit", "end the session (also 'exit')", &Shell::CmdQuit, 1, 1},
      {"exit", "exit", "end the session", &Shell::CmdQuit, 1, 1},
  };
  return commands;
}

// ---- life --------------------------------------------------------------

Shell::Shell(ShellOptions options, std::FILE* out, std::FILE* err)
    : mOptions(std::move(options)), mOut(out), mErr(err) {
  mErrIsTerminal = isatty(fileno(mErr)) != 0;
  if (mOptions.stepMilliseconds < 1) mOptions.stepMilliseconds = 1;
  if (mOptions.stepMode) {
    // Start away from zero so that no time the host computes is negative.
    mClock = std::make_unique<fbhost::ManualClock>(FBTime(FBTime::kTicksPerSecond));
    mClockGuard = std::make_unique<fbhost::ScopedClock>(*mClock);
  }
  mStats = std::make_unique<LiveStats>();
  mSavedTakesRevision = fbhost::TakesRevision();
  if (!mOptions.stepMode) {
    fbhost::EngineOptions engine;
    engine.evaluationPeriod = mOptions.evaluationPeriod;
    fbhost::StartEngine(engine);
  }
}

Shell::~Shell() {
  mView.reset();
  ClearStatusLine();
  CloseAllPanels();
  if (fbhost::TransportPlaying()) fbhost::TransportStop();
  fbhost::StopEngine();
  // Every device goes offline and shuts down, so its connection closes
  // cleanly and the next shell (a test) finds an empty scene.
  fbhost::ResetScene();
  mStats.reset();
  mClockGuard.reset();
}

// ---- running -----------------------------------------------------------

bool Shell::Fail(const std::string& message) {
  ClearStatusLine();
  mLastError = message;
  std::fprintf(mErr, "orbel-host: error: %s%s%s\n", mWhere.c_str(), mWhere.empty() ? "" : ": ",
               message.c_str());
  std::fflush(mErr);
  return false;
}

void Shell::Say(const std::string& text) {
  ClearStatusLine();
  std::fprintf(mOut, "%s\n", text.c_str());
  std::fflush(mOut);
}

void Shell::Warn(const std::string& text) {
  ClearStatusLine();
  std::fprintf(mErr, "orbel-host: warning: %s\n", text.c_str());
  std::fflush(mErr);
}

void Shell::Note(const std::string& text) {
  ClearStatusLine();
  std::fprintf(mErr, "orbel-host: note: %s\n", text.c_str());
  std::fflush(mErr);
}

bool Shell::Run(const std::string& line, const std::string& where) {
  mWhere = where;
  Words words;
  std::string error;
  if (!SplitWords(line, &words, &error)) return Fail(error);
  if (words.empty()) return true;
  for (auto& word : words) {
    std::string expanded;
    if (!ExpandVariables(word, mOptions.variables, &expanded, &error)) return Fail(error);
    word = std::move(expanded);
  }
  const auto& commands = Commands();
  const auto command = std::find_if(commands.begin(), commands.end(),
                                    [&](const Command& c) { return words[0] == c.name; });
  if (command == commands.end()) {
    return Fail("unknown command " + Quote(words[0]) + " (type 'help' for the list)");
  }
  const int count = static_cast<int>(words.size());
  if (count < command->minWords || (command->maxWords >= 0 && count > command->maxWords)) {
    return Fail("usage: " + std::string(command->usage));
  }
  bool ok = false;
  const SceneGate::Held held(mGate);
  try {
    // While a command runs, a first Ctrl-C asks it to stop rather than end
    // the program (see interrupts.h).
    interrupts::BusyScope busy;
    ok = (this->*(command->run))(words);
  } catch (const std::exception& thrown) {
    ok = Fail(std::string(command->name) + " failed: " + thrown.what());
  }
  // Panels follow their device's state on the host's idle tick.
  fbhost::RaiseUIIdle();
  return ok;
}

bool Shell::RunCommands(const std::string& text) {
  int index = 0;
  for (const std::string& command : SplitCommands(text)) {
    ++index;
    if (!Run(command, "-c command " + std::to_string(index))) return false;
    if (StoppedBySignal("-c command " + std::to_string(index))) return false;
    if (mQuit) break;
  }
  return true;
}

bool Shell::RunScript(const std::string& path) {
  std::string text, error;
  mWhere.clear();
  if (!ReadTextFile(path, kMaxScriptBytes, &text, &error)) return Fail("script: " + error);
  std::size_t start = 0;
  int number = 0;
  while (start <= text.size() && !mQuit) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++number;
    if (!Run(line, path + ":" + std::to_string(number))) return false;
    if (StoppedBySignal(path + ":" + std::to_string(number))) return false;
    if (end == text.size()) break;
    start = end + 1;
  }
  return true;
}

bool Shell::StoppedBySignal(const std::string& where) {
  if (interrupts::TerminateRequested()) {
    Note("ending on SIGTERM after " + where);
    mQuit = true;
    return true;
  }
  if (!interrupts::Interrupted()) return false;
  interrupts::ClearInterrupted();
  Note("interrupted (Ctrl-C): the script stops after " + where);
  return true;
}

namespace {

// One line of any length, without its line end (POSIX getline is not
// everywhere). False at the end of the input, or when the read failed
// (errno says why; a line cut off by the failure is dropped).
bool ReadPlainLine(std::FILE* in, std::string* line) {
  line->clear();
  int c = std::fgetc(in);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::fgetc(in)) line->push_back(static_cast<char>(c));
  if (c == EOF && std::ferror(in) != 0) return false;
  while (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

}  // namespace

bool Shell::RunInteractive(std::FILE* in) {
  const bool prompt = isatty(fileno(in)) != 0;
  bool allOk = true;
  mInteractive = true;
  // On a terminal, line editing with a history and completion; anything else
  // is read line by line, as a script is.
  std::unique_ptr<LineEditor> editor;
  if (prompt) {
    editor = LineEditor::Open(
        in, mOut, fbhost::ConfigFolder() + "/history",
        [this](const std::string& left) { return Complete(left); },
        [] { return interrupts::TerminateRequested(); });
  }
  while (!mQuit && !interrupts::TerminateRequested()) {
    std::string line;
    if (editor) {
      const LineEditor::Read read = editor->ReadLine("orbel> ", &line);
      if (const std::string problem = editor->TakeHistoryProblem(); !problem.empty()) Note(problem);
      if (read == LineEditor::Read::End) break;
      if (read == LineEditor::Read::Dropped) continue;
      if (read == LineEditor::Read::Interrupted) {
        // Ctrl-C on an empty line: a running recording stops and keeps its
        // take; otherwise the session ends, through 'quit' so that takes not
        // saved are warned about once (a second Ctrl-C then leaves).
        if (fbhost::TransportRecording()) {
          Note("Ctrl-C: the recording stops and the take is kept");
          if (!Run("stop")) allOk = false;
        } else if (!Run("quit")) {
          allOk = false;
        }
        continue;
      }
    } else {
      if (prompt) {
        std::fputs("orbel> ", mOut);
        std::fflush(mOut);
      }
      errno = 0;
      if (!ReadPlainLine(in, &line)) {
        if (errno != EINTR || interrupts::TerminateRequested()) break;
        clearerr(in);
        if (interrupts::Interrupted() && fbhost::TransportRecording()) {
          interrupts::ClearInterrupted();
          Note("Ctrl-C: the recording stops and the take is kept");
          if (!Run("stop")) allOk = false;
        }
        continue;
      }
    }
    if (!Run(line)) allOk = false;
    if (interrupts::Interrupted()) {
      interrupts::ClearInterrupted();
      Note("interrupted (Ctrl-C); back at the prompt");
    }
  }
  mInteractive = false;
  if (interrupts::TerminateRequested()) {
    Note("ending on SIGTERM: devices go offline");
    allOk = false;
  }
  if (prompt && !mQuit) std::fputs("\n", mOut);
  return allOk;
}

Completion Shell::Complete(const std::string& left) {
  std::vector<CommandForms> commands;
  for (const Command& c : Commands()) {
    CommandForms entry{c.name, {c.usage}};
    if (const CommandGuide* guide = FindCommandGuide(c.name); guide && !guide->forms.empty()) {
      entry.forms.assign(guide->forms.begin(), guide->forms.end());
    }
    commands.push_back(std::move(entry));
  }
  auto names = [&](const std::string& placeholder) {
    std::vector<std::string> found;
    if (placeholder == "DEVICE") {
      for (FBDevice* device : fbhost::Devices()) found.push_back(device->GetLabelName().str());
    } else if (placeholder == "TAKE") {
      for (FBTake* take : fbhost::Takes()) found.push_back(take->GetLabelName().str());
    } else if (placeholder == "MODEL") {
      for (FBModel* model : fbhost::SceneModels()) found.push_back(model->GetLabelName().str());
    } else if (placeholder == "LABEL") {
      for (const auto& r : fbhost::Registrations("Boxes/Devices")) found.push_back(r.entry);
    } else if (placeholder == "COMMAND") {
      for (const Command& c : Commands()) found.push_back(c.name);
    }
    return found;
  };
  return CompleteLine(left, commands, names);
}

// ---- lookups -----------------------------------------------------------

std::string Shell::DeviceNames() const {
  std::vector<std::string> names;
  for (FBDevice* device : fbhost::Devices()) names.push_back(device->GetLabelName().str());
  return JoinQuoted(names);
}

FBDevice* Shell::FindDevice(const std::string& name) {
  for (FBDevice* device : fbhost::Devices()) {
    if (device->GetLabelName().str() == name) return device;
  }
  Fail("no device is named " + Quote(name) + " (devices: " + DeviceNames() + ")");
  return nullptr;
}

FBTake* Shell::FindTake(const std::string& name) {
  if (name.empty()) return fbhost::CurrentTake();
  std::vector<std::string> names;
  for (FBTake* take : fbhost::Takes()) {
    if (take->GetLabelName().str() == name) return take;
    names.push_back(take->GetLabelName().str());
  }
  Fail("no take is named " + Quote(name) + " (takes: " + JoinQuoted(names) + ")");
  return nullptr;
}

fbhost::Panel* Shell::PanelFor(FBDevice* device) {
  auto found = mPanels.find(device);
  if (found != mPanels.end() && found->second->DeviceAlive()) return found->second.get();
  std::string error;
  std::unique_ptr<fbhost::Panel> panel = fbhost::Panel::Open(device, &error);
  if (!panel) {
    Fail(error);
    return nullptr;
  }
  fbhost::Panel* opened = panel.get();
  mPanels[device] = std::move(panel);
  return opened;
}

void Shell::ClosePanel(FBDevice* device) { mPanels.erase(device); }

void Shell::CloseAllPanels() { mPanels.clear(); }

// ---- time --------------------------------------------------------------

void Shell::Step(int count) {
  for (int i = 0; i < count; ++i) {
    mClock->AdvanceMilliSeconds(mOptions.stepMilliseconds);
    fbhost::StepInput();
    fbhost::StepEvaluation();
    fbhost::RaiseUIIdle();
  }
}

std::string Shell::StatusLine(const std::string& activity) {
  const LiveFigures figures = mStats->Figures();
  const std::int64_t now = MonotonicNowNs();
  if (mRateSinceNs == 0 || figures.framesFetched < mRateFrames) {
    mRateSinceNs = now;
    mRateFrames = figures.framesFetched;
  } else if (now - mRateSinceNs >= 500000000) {
    mRate = static_cast<double>(figures.framesFetched - mRateFrames) * 1e9 /
            static_cast<double>(now - mRateSinceNs);
    mRateSinceNs = now;
    mRateFrames = figures.framesFetched;
  }
  std::vector<std::string> live, subjects;
  for (FBDevice* device : fbhost::Devices()) {
    if (!device->Online.Get()) continue;
    live.push_back(device->GetLabelName().str() + (device->Live.Get() ? " live" : " online"));
    for (auto& s : SubjectsOf(device)) subjects.push_back(std::move(s));
  }
  std::string line = live.empty() ? std::string("no device online") : live.front();
  if (live.size() > 1) line += " (+" + std::to_string(live.size() - 1) + ")";
  line += " | " + Format("%.1f", mRate) + " fps";
  const LatencySummary& latency = figures.latency;
  if (latency.samples > 0) {
    line += " | latency " + Format("%.1f", latency.lastMs) + " ms (p95 " +
            Format("%.1f", latency.p95Ms) + ")";
  } else {
    line += " | latency -";
  }
  std::string names;
  for (const auto& s : subjects) names += (names.empty() ? "" : ",") + s;
  line += " | subjects: " + (names.empty() ? std::string("none") : names);
  if (!activity.empty()) line += " | " + activity;
  return line;
}

void Shell::ClearStatusLine() {
  if (!mStatusShown) return;
  std::fputs("\r\x1b[K", mErr);
  std::fflush(mErr);
  mStatusShown = false;
}

bool Shell::PassTime(double seconds, const std::string& activity) {
  if (mOptions.stepMode) {
    const int steps =
        static_cast<int>(std::ceil(seconds * 1000.0 / mOptions.stepMilliseconds - 1e-9));
    for (int i = 0; i < steps; ++i) {
      if (interrupts::StopRequested()) return false;
      Step(1);
    }
    return true;
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  auto nextLine = start;
  for (;;) {
    const auto now = Clock::now();
    fbhost::RaiseUIIdle();
    if (mOptions.statusLine && now >= nextLine) {
      const double elapsed = std::chrono::duration<double>(now - start).count();
      const std::string text =
          StatusLine(activity + " " + Format("%.1f", std::min(elapsed, seconds)) + "/" +
                     Format("%.1f", seconds) + " s");
      if (mErrIsTerminal) {
        std::fprintf(mErr, "\r%s\x1b[K", text.c_str());
        mStatusShown = true;
        nextLine = now + std::chrono::milliseconds(200);
      } else {
        // A log gets one line a second rather than a stream of rewrites.
        std::fprintf(mErr, "status: %s\n", text.c_str());
        nextLine = now + std::chrono::seconds(1);
      }
      std::fflush(mErr);
    }
    if (now >= end) break;
    const SceneGate::Opening viewMayRead(mGate);
    if (interrupts::StopRequested()) {
      ClearStatusLine();
      return false;
    }
    std::this_thread::sleep_for(
        std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
  }
  ClearStatusLine();
  return true;
}

// ---- commands ----------------------------------------------------------

bool Shell::CmdHelp(const Words& w) {
  const auto& commands = Commands();
  if (w.size() == 2) {
    for (const Command& c : commands) {
      if (w[1] != c.name) continue;
      std::string text = std::string("usage: ") + c.usage + "\n  " + c.summary;
      if (const CommandGuide* guide = FindCommandGuide(c.name)) {
        if (!guide->forms.empty()) text += "\nforms:";
        for (const char* form : guide->forms) text += std::string("\n  ") + form;
        text += std::string("\nexample: ") + guide->example;
      }
      Say(text);
      return true;
    }
    return Fail("no command is named " + Quote(w[1]) + " (type 'help' for the list)");
  }
  std::string text = "commands (DEVICE is a device's name; quote words that hold blanks):\n";
  for (const Command& c : commands) {
    if (std::strcmp(c.name, "exit") == 0) continue;
    text += std::string("  ") + c.usage + "\n      " + c.summary + "\n";
  }
  text += "variables: ${NAME} is replaced by the value given with --set NAME=VALUE\n";
  text += "'help COMMAND' shows a command's forms and an example; at a terminal, Tab completes";
  Say(text);
  return true;
}

bool Shell::CmdPlugins(const Words& w) {
  bool ok = true;
  int loaded = 0;
  for (const auto& result : fbhost::LoadPluginDirectory(w[1])) {
    if (result.status == fbhost::PluginLoadStatus::Failed) {
      Fail(result.message);
      ok = false;
    } else if (result.status == fbhost::PluginLoadStatus::Loaded) {
      ++loaded;
    }
  }
  if (ok && loaded == 0 && fbhost::LoadedPlugins().empty()) {
    return Fail("no plug-in found in " + Quote(w[1]));
  }
  if (ok) Say("plug-ins loaded: " + std::to_string(fbhost::LoadedPlugins().size()));
  return ok;
}

bool Shell::CmdList(const Words&) {
  std::string text;
  const auto loaded = fbhost::LoadedPlugins();
  text += "plug-ins loaded: " + std::to_string(loaded.size()) + "\n";
  for (const auto& p : loaded) {
    const int taken = p.endTypeNumber - p.firstTypeNumber;
    text += "  " + p.path + "\n    type numbers taken: " + std::to_string(taken);
    if (taken > 0) {
      text += " (" + std::to_string(p.firstTypeNumber) + " to " +
              std::to_string(p.endTypeNumber - 1) + ")";
    }
    text += "\n    library objects: " + std::to_string(p.libraryObjects) + "\n";
  }
  const auto registrations = fbhost::Registrations();
  text += "registrations: " + std::to_string(registrations.size()) + "\n";
  char line[256];
  std::snprintf(line, sizeof line, "  %-26s %-22s %-34s %s\n", "group", "entry", "description",
                "icon");
  text += line;
  for (const auto& r : registrations) {
    std::snprintf(line, sizeof line, "  %-26s %-22s %-34s %s\n", r.group.c_str(), r.entry.c_str(),
                  r.description.c_str(), r.icon.c_str());
    text += line;
  }
  text.pop_back();
  Say(text);
  return true;
}

bool Shell::CmdAdd(const Words& w) {
  const std::string& entry = w[1];
  std::string name = w.size() > 2 ? w[2] : entry;
  std::set<std::string> taken;
  for (FBDevice* device : fbhost::Devices()) taken.insert(device->GetLabelName().str());
  if (w.size() > 2) {
    if (name.empty() || name.find(':') != std::string::npos) {
      return Fail("a device name must be plain text without ':', not " + Quote(name));
    }
    if (taken.count(name) > 0) return Fail("a device is already named " + Quote(name));
  } else {
    for (int n = 2; taken.count(name) > 0; ++n) name = entry + " " + std::to_string(n);
  }
  std::string error;
  FBDevice* device = fbhost::AddDevice(entry, &error);
  if (device == nullptr) {
    std::vector<std::string> labels;
    for (const auto& r : fbhost::Registrations("Boxes/Devices")) labels.push_back(r.entry);
    return Fail(error + " (registered devices: " + JoinQuoted(labels) +
                (labels.empty() ? "; load plug-ins with 'plugins FOLDER'" : "") + ")");
  }
  device->SetLabelName(name.c_str());
  Say("added device " + Quote(name) + " (" + device->ClassName() +
      "): " + device->Status.Get().str() + ", " + device->Information.Get().str());
  return true;
}

bool Shell::CmdRemove(const Words& w) {
  FBDevice* device = FindDevice(w[1]);
  if (device == nullptr) return false;
  ClosePanel(device);
  fbhost::ClosePanelsFor(device);
  std::string error;
  if (!fbhost::RemoveDevice(device, &error)) return Fail(error);
  Say("removed device " + Quote(w[1]));
  return true;
}

bool Shell::CmdDevices(const Words&) {
  const auto devices = fbhost::Devices();
  if (devices.empty()) {
    Say("no devices (add one with: add \"Orbel Stream Device\" NAME)");
    return true;
  }
  std::string text;
  for (FBDevice* device : devices) {
    text += Quote(device->GetLabelName().str()) + " " + device->ClassName() +
            (device->Online.Get() ? " online" : " offline") + (device->Live.Get() ? " live" : "") +
            (device->Recording.Get() ? " armed" : "") + " | status " +
            Quote(device->Status.Get().str()) + " | " + Quote(device->Information.Get().str()) +
            "\n";
  }
  text.pop_back();
  Say(text);
  return true;
}

bool Shell::CmdOp(const Words& w) {
  FBDevice* device = FindDevice(w[1]);
  if (device == nullptr) return false;
  static const std::pair<const char*, int> kNames[] = {{"init", kFBDeviceInitialize},
                                                       {"start", kFBDeviceStart},
                                                       {"stop", kFBDeviceStop},
                                                       {"reset", kFBDeviceReset},
                                                       {"shutdown", kFBDeviceShutDown}};
  int operation = -1;
  bool named = false;
  for (const auto& [name, number] : kNames) {
    if (w[2] == name) {
      operation = number;
      named = true;
    }
  }
  if (!named) {
    long long number = 0;
    std::string error;
    if (!ParseInteger(w[2], -2147483648LL, 2147483647LL, &number, &error)) {
      return Fail("operation " + Quote(w[2]) +
                  " is neither init, start, stop, reset, shutdown nor a number");
    }
    operation = static_cast<int>(number);
  }
  const bool answer = fbhost::RunDeviceOperation(device, operation);
  const std::string state = "status " + Quote(device->Status.Get().str()) + ", information " +
                            Quote(device->Information.Get().str());
  if (!answer) {
    return Fail("device " + Quote(w[1]) + " answered false to operation " + w[2] + " (" + state +
                ")");
  }
  Say("operation " + w[2] + " on " + Quote(w[1]) + ": done (" + state + ")");
  return true;
}

bool Shell::CmdOnline(const Words& w) {
  FBDevice* device = FindDevice(w[1]);
  if (device == nullptr) return false;
  bool on = false;
  std::string error;
  if (!ParseOnOff(w[2], &on, &error)) return Fail(error);
  const bool answer = fbhost::SetDeviceOnline(device, on);
  const std::string state = "status " + Quote(device->Status.Get().str()) + ", information " +
                            Quote(device->Information.Get().str());
  if (on && !answer) {
    return Fail("device " + Quote(w[1]) + " did not go online: " + device->Information.Get().str() +
                " (" + state + ")");
  }
  Say("device " + Quote(w[1]) + " is " + (device->Online.Get() ? "online" : "offline") + " (" +
      state + ")");
  return on == device->Online.Get() ? true : Fail("device " + Quote(w[1]) + " stayed online");
}

bool Shell::CmdArm(const Words& w) {
  FBDevice* device = FindDevice(w[1]);
  if (device == nullptr) return false;
  bool on = false;
  std::string error;
  if (!ParseOnOff(w[2], &on, &error)) return Fail(error);
  device->Recording = on;
  Say("device " + Quote(w[1]) + (on ? " is armed for recording" : " is not armed"));
  return true;
}

bool Shell::CmdPanel(const Words& w) {
  FBDevice* device = FindDevice(w[1]);
  if (device == nullptr) return false;
  const std::string& action = w[2];
  const std::string value = w.size() > 3 ? w[3] : std::string();
  struct Action {
    const char* name;
    const char* region;  // the control it works
    enum Kind { Text, CheckBox, Choice, Click, Show, Render } kind;
  };
  static const Action kActions[] = {
      {"set-address", "EditNetworkAddress", Action::Text},
      {"set-port", "EditNetworkPort", Action::Text},
      {"count", "EditUnlabeledMarkerCount", Action::Text},
      {"axis", "mListAxisMapping", Action::Choice},
      {"bones", "ButtonEnableBones", Action::CheckBox},
      {"markers", "ButtonEnableMarkers", Action::CheckBox},
      {"unlabeled", "ButtonEnableUnlabeledMarkers", Action::CheckBox},
      {"timecode", "ButtonEnableTimecode", Action::CheckBox},
      {"strip", "ButtonEnableStripCharName", Action::CheckBox},
      {"pause", "ButtonPause", Action::Click},
      {"remove-unused", "ButtonReset", Action::Click},
      {"show", "", Action::Show},
      {"render", "", Action::Render},
  };
  const Action* chosen = nullptr;
  for (const Action& a : kActions) {
    if (action == a.name) chosen = &a;
  }
  if (chosen == nullptr) {
    std::string actions;
    for (const auto& name : PanelActionNames()) actions += (actions.empty() ? "" : ", ") + name;
    return Fail("the panel has no action " + Quote(action) + " (" + actions + ")");
  }
  const bool needsValue = chosen->kind == Action::Text || chosen->kind == Action::Choice ||
                          chosen->kind == Action::CheckBox || chosen->kind == Action::Render;
  if (needsValue && w.size() < 4) return Fail("panel " + action + " needs a value");
  if (!needsValue && w.size() > 3) return Fail("panel " + action + " takes no value");

  fbhost::Panel* panel = PanelFor(device);
  if (panel == nullptr) return false;
  // The panel enables its controls from the device's state on the idle tick.
  fbhost::RaiseUIIdle();
  std::string error;
  fbhost::PanelRegion region;
  if (chosen->region[0] != '\0') {
    if (!panel->FindRegion(chosen->region, &region, &error)) return Fail(error);
    const char* wanted = chosen->kind == Action::Text     ? "Edit"
                         : chosen->kind == Action::Choice ? "List"
                                                          : "Button";
    if (region.control == nullptr || region.kind != wanted) {
      return Fail("the panel's region " + Quote(chosen->region) + " holds no " + wanted +
                  " control");
    }
    if (!region.control->Enabled.Get()) return Fail(LockedControl(action, w[1], *device, value));
  }
  switch (chosen->kind) {
    case Action::Text: {
      if (!panel->TypeText(chosen->region, value, &error)) return Fail(error);
      auto* edit = static_cast<FBEdit*>(region.control);
      const std::string shown = edit->Text.Get().str();
      Say(action + ": the panel shows " + Quote(shown));
      // The panel keeps what it was given; say now what would otherwise
      // surface only as a failed connection, or not at all.
      if (const std::string doubt = DoubtfulEntry(action, value, shown); !doubt.empty()) {
        Warn(doubt);
      }
      return true;
    }
    case Action::Choice: {
      std::string item = value;
      auto* list = static_cast<FBList*>(region.control);
      for (int i = 0; i < list->Items.GetCount(); ++i) {
        const std::string text = list->Items.GetAt(i).str();
        if (strcasecmp(text.c_str(), value.c_str()) == 0) item = text;
      }
      if (!panel->Choose(chosen->region, item, &error)) return Fail(error);
      Say(action + ": " + item);
      return true;
    }
    case Action::CheckBox: {
      bool on = false;
      if (!ParseOnOff(value, &on, &error)) return Fail(error);
      auto* box = static_cast<FBButton*>(region.control);
      if ((box->State.Get() != 0) != on) {
        if (!panel->Click(chosen->region, &error)) return Fail(error);
      }
      const bool now = box->State.Get() != 0;
      Say(action + ": " + (now ? "on" : "off"));
      return now == on ? true
                       : Fail("the check box " + Quote(chosen->region) + " stayed " +
                              (now ? "on" : "off"));
    }
    case Action::Click: {
      if (!panel->Click(chosen->region, &error)) return Fail(error);
      auto* button = static_cast<FBButton*>(region.control);
      Say(action + ": clicked; the button now reads " + Quote(button->Caption.Get().str()));
      return true;
    }
    case Action::Show:
      Say(panel->Dump());
      return true;
    case Action::Render: {
      const std::size_t dot = value.find_last_of('.');
      const std::string extension = dot == std::string::npos ? "" : value.substr(dot);
      bool ok = false;
      if (strcasecmp(extension.c_str(), ".png") == 0) {
        ok = panel->WritePng(value, 2, &error);
      } else if (strcasecmp(extension.c_str(), ".svg") == 0) {
        ok = panel->WriteSvg(value, &error);
      } else {
        return Fail("render needs a file ending in .png or .svg, not " + Quote(value));
      }
      if (!ok) return Fail(error);
      Say("rendered the panel of " + Quote(w[1]) + " to " + Quote(value));
      return true;
    }
  }
  return Fail("unhandled panel action " + Quote(action));
}

bool Shell::CmdBind(const Words& w) {
  FBDevice* device = FindDevice(w[1]);
  if (device == nullptr) return false;
  const std::string target = w.size() > 2 ? w[2] : "new";
  const std::size_t modelsBefore = fbhost::SceneModels().size();
  std::string error;
  bool answer = false;
  // A template still bound (a loaded scene binds them again) is bound to
  // the same model once more, so that its models are reused, not doubled.
  FBModelTemplate* bound = device->ModelTemplate[0];
  FBModel* again = w.size() == 2 && bound != nullptr ? bound->Model.Get() : nullptr;
  if (again != nullptr) {
    answer = fbhost::BindTemplate(device, 0, again, &error);
  } else if (target == "new") {
    answer = fbhost::BindTemplate(device, 0, nullptr, &error);
  } else {
    answer = fbhost::BindTemplateToLabel(device, 0, target, &error);
  }
  if (!error.empty()) return Fail(error);
  if (!answer) return Fail("device " + Quote(w[1]) + " refused the binding");
  FBModelTemplate* root = device->ModelTemplate[0];
  FBModel* model = root != nullptr ? root->Model.Get() : nullptr;
  // The device reads the server's description at the bind, and can do so
  // only when a frame newer than the last one it took has arrived; while it
  // streams, its own input often took that frame a moment before. A user
  // would bind again; so does the host, a few times, to the same model.
  int rebinds = 0;
  while (SubjectsOf(device).empty() && device->Online.Get() && model != nullptr &&
         rebinds < kBindRetries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kBindRetryMs));
    ++rebinds;
    if (!fbhost::BindTemplate(device, 0, model, &error)) break;
  }
  if (rebinds > 0 && !SubjectsOf(device).empty()) {
    Note("the device read the server's description at bind " + std::to_string(rebinds + 1));
  }
  const auto subjects = SubjectsOf(device);
  Say("bound " + Quote(w[1]) + " to " +
      (model != nullptr ? Quote(model->GetLabelName().str()) : std::string("nothing")) + ": " +
      Counted(fbhost::SceneModels().size() - modelsBefore, "model") + " made, subjects " +
      JoinQuoted(subjects) + ", status " + Quote(device->Status.Get().str()) +
      (device->Live.Get() ? ", live" : ""));
  if (subjects.empty()) {
    Note(
        "the device offers no subjects; put it online first so it can read the server's "
        "description, then bind again");
  }
  const std::vector<std::string> leftOut = SubjectsAfterEmptyName();
  if (!leftOut.empty() && device->Online.Get()) {
    Note(
        "the server lists a subject with an empty name, where the device stops reading; left "
        "out: " +
        JoinQuoted(leftOut));
  }
  return true;
}

bool Shell::CmdUnbind(const Words& w) {
  FBDevice* device = FindDevice(w[1]);
  if (device == nullptr) return false;
  std::string error;
  if (!fbhost::UnbindTemplate(device, 0, &error)) {
    return Fail(error.empty() ? "device " + Quote(w[1]) + " refused the unbinding" : error);
  }
  Say("unbound " + Quote(w[1]));
  return true;
}

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

bool Shell::CmdTake(const Words& w) {
  if (w[1] == "list" && w.size() == 2) {
    std::string text;
    for (FBTake* take : fbhost::Takes()) {
      text += (take == fbhost::CurrentTake() ? "* " : "  ") + Quote(take->GetLabelName().str()) +
              ": " + Counted(take->GetCurves().size(), "curve") + ", " +
              Counted(static_cast<std::size_t>(KeyedSamples(take)), "sample") + "\n";
    }
    if (!text.empty()) text.pop_back();
    Say(text);
    return true;
  }
  if ((w[1] == "new" || w[1] == "use") && w.size() == 3) {
    if (fbhost::TransportPlaying()) return Fail("stop the transport before changing takes");
    FBTake* take = nullptr;
    if (w[1] == "new") {
      for (FBTake* existing : fbhost::Takes()) {
        if (existing->GetLabelName().str() == w[2]) {
          return Fail("a take is already named " + Quote(w[2]));
        }
      }
      if (w[2].empty()) return Fail("a take needs a name");
      take = fbhost::CreateTake(w[2]);
    } else {
      take = FindTake(w[2]);
      if (take == nullptr) return false;
    }
    fbhost::SetCurrentTake(take);
    Say("current take: " + Quote(take->GetLabelName().str()));
    return true;
  }
  return Fail("usage: take list|new NAME|use NAME");
}

bool Shell::CmdSave(const Words& w) {
  std::string error;
  const std::uint64_t revision = fbhost::TakesRevision();
  if (!fbhost::SaveScene(w[1], &error)) return Fail(error);
  mSavedTakesRevision = revision;
  mQuitWarned = false;
  Say("saved the scene to " + Quote(w[1]) + ": " + Counted(fbhost::SceneModels().size(), "model") +
      ", " + Counted(fbhost::Devices().size(), "device") + ", " +
      Counted(fbhost::Takes().size(), "take"));
  return true;
}

bool Shell::CmdLoad(const Words& w) {
  Words words(w.begin() + 1, w.end());
  const bool discard = TakeFlag(&words, "--discard");
  std::string error;
  if (UnknownOption(words, &error)) return Fail(error);
  if (words.size() != 1) return Fail("usage: load FILE [--discard]");
  const std::string& path = words[0];
  if (fbhost::TransportPlaying()) return Fail("stop the transport before loading a scene");
  const std::string unsaved = TakesWithKeys();
  if (!discard && fbhost::TakesRevision() != mSavedTakesRevision && !unsaved.empty()) {
    return Fail("the takes changed since the last save and loading " + Quote(path) +
                " would drop them: " + unsaved +
                "; save them first ('save FILE'), or load with --discard to drop them");
  }
  if (!fbhost::CheckSceneFile(path, &error)) return Fail(error);
  // The load replaces every device; their panels go first.
  CloseAllPanels();
  const bool loaded = fbhost::LoadScene(path, &error);
  mSavedTakesRevision = fbhost::TakesRevision();
  mQuitWarned = false;
  // Replacing the scene stops the host's input and evaluation threads; without
  // them again, devices put online after the load would never take a sample.
  if (!mOptions.stepMode && !fbhost::EngineRunning()) {
    fbhost::EngineOptions engine;
    engine.evaluationPeriod = mOptions.evaluationPeriod;
    fbhost::StartEngine(engine);
  }
  if (!loaded) return Fail(error);
  Say("loaded " + Quote(path) + ": " + Counted(fbhost::SceneModels().size(), "model") +
      ", devices " + DeviceNames() + " (offline; put them online to stream), " +
      Counted(fbhost::Takes().size(), "take"));
  return true;
}

bool Shell::CmdExportBvh(const Words& w) {
  Words words(w.begin() + 1, w.end());
  std::string subject, error;
  if (!TakeOption(&words, "--subject", &subject, &error) || UnknownOption(words, &error)) {
    return Fail(error);
  }
  if (words.empty() || words.size() > 2)
    return Fail("usage: export-bvh FILE [TAKE] [--subject NAME]");
  FBTake* take = FindTake(words.size() > 1 ? words[1] : std::string());
  if (take == nullptr) return false;
  BvhMotion motion;
  if (!CollectBvhMotion(*take, subject, &motion, &error)) return Fail(error);
  for (const auto& note : motion.notes) Note(note);
  int roots = 0;
  for (const auto& joint : motion.joints) roots += joint.parent < 0 ? 1 : 0;
  if (roots > 1) {
    Note("the file holds " + std::to_string(roots) +
         " skeletons (one ROOT each); some tools read only the first; --subject picks one");
  }
  if (!Emit(words[0], FormatBvh(motion), "BVH")) return false;
  if (words[0] != "-") {
    Say("wrote " + Quote(words[0]) + ": " + Counted(motion.joints.size(), "joint") + ", " +
        Counted(motion.frameTimes.size(), "frame") + " (one per sample), frame time " +
        Format("%.6f", motion.frameTimeSeconds) + " s, from take " +
        Quote(take->GetLabelName().str()));
  }
  return true;
}

bool Shell::CmdExportCsv(const Words& w) {
  Words words(w.begin() + 1, w.end());
  std::string subject, error;
  if (!TakeOption(&words, "--subject", &subject, &error) || UnknownOption(words, &error)) {
    return Fail(error);
  }
  if (words.empty() || words.size() > 2)
    return Fail("usage: export-csv FILE [TAKE] [--subject NAME]");
  FBTake* take = FindTake(words.size() > 1 ? words[1] : std::string());
  if (take == nullptr) return false;
  MarkerTable table;
  if (!CollectMarkerTable(*take, subject, &table, &error)) return Fail(error);
  if (!Emit(words[0], FormatCsv(table), "CSV")) return false;
  if (words[0] != "-") {
    Say("wrote " + Quote(words[0]) + ": " + Counted(table.labels.size(), "marker") + ", " +
        Counted(table.times.size(), "row") + ", from take " + Quote(take->GetLabelName().str()));
  }
  return true;
}

bool Shell::CmdExportGltf(const Words& w) {
  Words words(w.begin() + 1, w.end());
  std::string subject, error;
  if (!TakeOption(&words, "--subject", &subject, &error) || UnknownOption(words, &error)) {
    return Fail(error);
  }
  if (words.empty() || words.size() > 2) {
    return Fail("usage: export-gltf FILE.glb [TAKE] [--subject NAME]");
  }
  const std::string& path = words[0];
  if (path.size() < 5 || path.compare(path.size() - 4, 4, ".glb") != 0) {
    return Fail(Quote(path) + ": export-gltf writes binary glTF; name the file .glb");
  }
  FBTake* take = FindTake(words.size() > 1 ? words[1] : std::string());
  if (take == nullptr) return false;
  std::string glb;
  GltfSummary summary;
  if (!ExportGltf(*take, subject, &glb, &summary, &error)) return Fail(error);
  for (const auto& note : summary.notes) Note(note);
  if (!Emit(path, glb, "glTF")) return false;
  Say("wrote " + Quote(path) + ": " + std::to_string(summary.subjects) + " subjects, " +
      std::to_string(summary.joints) + " joints, " + std::to_string(summary.markers) +
      " markers, " + std::to_string(summary.frames) + " frames, " + std::to_string(glb.size()) +
      " bytes, from take " + Quote(take->GetLabelName().str()));
  return true;
}

bool Shell::CmdView(const Words& w) {
  bool on = mView != nullptr;
  std::string error;
  if (w.size() > 1 && !ParseOnOff(w[1], &on, &error)) return Fail(error);
  long long port = kDefaultViewPort;
  if (w.size() > 2) {
    if (!on) return Fail("usage: view [on [PORT]|off]");
    if (!ParseInteger(w[2], 0, 65535, &port, &error)) return Fail("view port: " + error);
  }
  if (!on) {
    if (mView) {
      // The view thread may be waiting for the gate this command holds.
      const SceneGate::Opening letItFinish(mGate);
      mView.reset();
    }
    Say("view: off");
    return true;
  }
  if (mView && w.size() > 2 && port != mView->Port() && port != 0) {
    return Fail("the view is already on at " + mView->Url() + " ('view off' first)");
  }
  if (!mView) {
    ViewOptions options;
    options.port = static_cast<int>(port);
    options.deviceSettings = kDeviceSettingsFile;
    mView = ViewServer::Start(options, mGate, mStats.get(), &error);
    if (!mView) return Fail(error);
  }
  Say("view: " + mView->Url());
  return true;
}

bool Shell::CmdDump(const Words& w) {
  Words words(w.begin() + 1, w.end());
  std::string out, error;
  if (!TakeOption(&words, "--out", &out, &error)) return Fail(error);
  const bool keys = TakeFlag(&words, "--keys");
  if (UnknownOption(words, &error)) return Fail(error);
  if (words.empty() || words.size() > 2) {
    return Fail(
        "usage: dump device|templates|scene|settings|take|stats [NAME] [--keys] [--out FILE]");
  }
  const std::string& what = words[0];
  const std::string name = words.size() > 1 ? words[1] : std::string();
  auto deviceNamed = [&]() -> FBDevice* {
    if (!name.empty()) return FindDevice(name);
    const auto devices = fbhost::Devices();
    if (devices.size() == 1) return devices.front();
    Fail("dump " + what + " needs a device name (devices: " + DeviceNames() + ")");
    return nullptr;
  };
  nlohmann::json json;
  if (what == "device" || what == "templates" || what == "stats") {
    FBDevice* device = deviceNamed();
    if (device == nullptr) return false;
    json = what == "device"      ? DeviceJson(*device)
           : what == "templates" ? TemplatesJson(*device)
                                 : StatsJson(*device, mStats->Figures());
  } else if (what == "scene") {
    if (!name.empty()) return Fail("dump scene takes no name");
    json = SceneJson();
  } else if (what == "settings") {
    if (!SettingsJson(name.empty() ? kDeviceSettingsFile : name, &json, &error)) {
      return Fail(error);
    }
  } else if (what == "take") {
    FBTake* take = FindTake(name);
    if (take == nullptr) return false;
    json = TakeJson(*take, keys);
  } else {
    return Fail("cannot dump " + Quote(what) +
                " (device, templates, scene, settings, take or stats)");
  }
  if (keys && what != "take") return Fail("--keys belongs to 'dump take'");
  // Names from a damaged scene file may hold bytes that are not UTF-8; they
  // are shown replaced rather than failing the whole dump.
  return Emit(out.empty() ? "-" : out,
              json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", "JSON");
}

bool Shell::CmdEcho(const Words& w) {
  std::string text;
  for (std::size_t i = 1; i < w.size(); ++i) text += (i > 1 ? " " : "") + w[i];
  Say(text);
  return true;
}

bool Shell::CmdQuit(const Words&) {
  const std::string unsaved = TakesWithKeys();
  if (mInteractive && !mQuitWarned && fbhost::TakesRevision() != mSavedTakesRevision &&
      !unsaved.empty()) {
    mQuitWarned = true;
    Note("the takes changed since the last save: " + unsaved +
         "; 'save FILE' keeps them, 'quit' again leaves without saving");
    return true;
  }
  mQuit = true;
  return true;
}

bool Shell::Emit(const std::string& path, const std::string& text, const std::string& what) {
  if (path == "-") {
    ClearStatusLine();
    std::fputs(text.c_str(), mOut);
    std::fflush(mOut);
    return true;
  }
  std::string error;
  if (!WriteTextFile(path, text, &error)) return Fail(what + ": " + error);
  return true;
}

}  // namespace orbel::hostapp
