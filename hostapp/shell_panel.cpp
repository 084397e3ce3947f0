// The shell's panel command: show a device's settings panel, act on it as a
// user would, render it.
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
#include <fbrender/panel_picture.h>
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
#include "shell_parts.h"

namespace orbel::hostapp {

using namespace shell_parts;

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
        ok = fbrender::WritePanelPng(*panel, value, 2, &error);
      } else if (strcasecmp(extension.c_str(), ".svg") == 0) {
        ok = fbrender::WritePanelSvg(*panel, value, &error);
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

}  // namespace orbel::hostapp
