// The shell's device commands: plug-ins, adding and removing devices, their
// operations, online, arming for recording, binding.
#include "shell.h"

#include <chrono>
#include <set>
#include <thread>

#include <fbhost/fbhost.h>
#include <fbsdk/fbmodel.h>
#include <fbsdk/fbmodeltemplate.h>

#include "command_words.h"
#include "shell_parts.h"

namespace orbel::hostapp {

using namespace shell_parts;

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
  // would bind again; so does the host, for a while, to the same model.
  int rebinds = 0;
  const auto giveUpAt =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBindRetryForMs);
  while (SubjectsOf(device).empty() && device->Online.Get() && model != nullptr &&
         std::chrono::steady_clock::now() < giveUpAt) {
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

}  // namespace orbel::hostapp
