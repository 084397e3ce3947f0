// The shell's looking-inside commands: the live view and dumps.
#include "shell.h"

#include <fbhost/fbhost.h>

#include "command_words.h"
#include "dumps.h"
#include "shell_parts.h"

namespace orbel::hostapp {

using namespace shell_parts;

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

}  // namespace orbel::hostapp
