#include "shell.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include <fbhost/fbhost.h>
#include <fbsdk/fbmodel.h>
#include <fbsdk/fbmodeltemplate.h>

#include "command_guide.h"
#include "command_words.h"
#include "file_output.h"
#include "interrupts.h"
#include "line_editor.h"
#include "shell_parts.h"

namespace orbel::hostapp {

namespace shell_parts {
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

}  // namespace shell_parts

using namespace shell_parts;

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

}  // namespace orbel::hostapp
