#include "command_guide.h"

namespace orbel::hostapp {

namespace {

const std::vector<CommandGuide>& Guides() {
  static const std::vector<CommandGuide> guides = {
      {"help", "help panel", {}},
      {"plugins", "plugins build/default/lib", {}},
      {"list", "list", {}},
      {"add", "add \"Orbel Stream Device\" cam", {}},
      {"remove", "remove cam", {}},
      {"devices", "devices", {}},
      {"op", "op cam reset", {}},
      {"online", "online cam on", {}},
      {"arm", "arm cam on", {}},
      {"panel",
       "panel cam set-port 801",
       {"panel DEVICE set-address HOST", "panel DEVICE set-port PORT",
        "panel DEVICE axis Y-Up|Z-Up", "panel DEVICE bones on|off", "panel DEVICE markers on|off",
        "panel DEVICE unlabeled on|off", "panel DEVICE count N", "panel DEVICE timecode on|off",
        "panel DEVICE strip on|off", "panel DEVICE pause", "panel DEVICE remove-unused",
        "panel DEVICE show", "panel DEVICE render FILE.png|FILE.svg"}},
      {"bind", "bind cam new", {}},
      {"unbind", "unbind cam", {}},
      {"play", "play", {}},
      {"record", "record 10", {}},
      {"stop", "stop", {}},
      {"wait", "wait 2", {}},
      {"step", "step 50", {}},
      {"status", "status", {}},
      {"take", "take new \"Take 002\"", {"take list", "take new NAME", "take use TAKE"}},
      {"save", "save out/mine/hop.orbs", {}},
      {"load", "load out/mine/hop.orbs", {}},
      {"export-bvh", "export-bvh out/mine/hop.bvh --subject hop", {}},
      {"export-csv", "export-csv out/mine/hop_markers.csv", {}},
      {"dump",
       "dump take --keys --out out/mine/take.json",
       {"dump device [DEVICE] [--out FILE]", "dump templates [DEVICE] [--out FILE]",
        "dump scene [--out FILE]", "dump settings [FILE] [--out FILE]",
        "dump take [TAKE] [--keys] [--out FILE]", "dump stats [DEVICE] [--out FILE]"}},
      {"echo", "echo \"take ${NAME} done\"", {}},
      {"quit", "quit", {}},
      {"exit", "exit", {}},
  };
  return guides;
}

}  // namespace

const CommandGuide* FindCommandGuide(const std::string& name) {
  for (const CommandGuide& guide : Guides()) {
    if (name == guide.name) return &guide;
  }
  return nullptr;
}

std::vector<std::string> PanelActionNames() {
  std::vector<std::string> names;
  for (const char* form : FindCommandGuide("panel")->forms) {
    const std::string text = form;
    const std::size_t start = text.find(' ', text.find(' ') + 1) + 1;
    names.push_back(text.substr(start, text.find(' ', start) - start));
  }
  return names;
}

}  // namespace orbel::hostapp
