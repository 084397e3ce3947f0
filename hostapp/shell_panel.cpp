// The shell's panel command: show a device's settings panel, act on it as a
// user would, render it.
#include "shell.h"

#include <strings.h>

#include <fbhost/fbhost.h>
#include <fbrender/panel_picture.h>
#include <fbsdk/fbcontrols.h>

#include "command_guide.h"
#include "command_words.h"
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
    // The control it works, as the panel captions it (or the label beside
    // it); a button whose caption follows its state has two.
    const char* captions[2];
    enum Kind { Text, CheckBox, Choice, Click, Show, Render } kind;
  };
  static const Action kActions[] = {
      {"set-address", {"Server Address:"}, Action::Text},
      {"set-port", {"Port:"}, Action::Text},
      {"count", {"Marker Count:"}, Action::Text},
      {"axis", {"Coordinate Frame:"}, Action::Choice},
      {"bones", {"Stream Bones"}, Action::CheckBox},
      {"markers", {"Stream Labeled Markers"}, Action::CheckBox},
      {"unlabeled", {"Stream Unlabeled Markers"}, Action::CheckBox},
      {"timecode", {"Use Timecode"}, Action::CheckBox},
      {"strip", {"Remove Character Name from Object Name"}, Action::CheckBox},
      {"pause", {"Pause Live Streaming", "Resume Live Streaming"}, Action::Click},
      {"remove-unused", {"Remove Unused Characters"}, Action::Click},
      {"show", {}, Action::Show},
      {"render", {}, Action::Render},
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
  if (chosen->captions[0] != nullptr) {
    const bool found = panel->FindByCaption(chosen->captions[0], &region, &error) ||
                       (chosen->captions[1] != nullptr &&
                        panel->FindByCaption(chosen->captions[1], &region, nullptr));
    if (!found) return Fail(error);
    const char* wanted = chosen->kind == Action::Text     ? "Edit"
                         : chosen->kind == Action::Choice ? "List"
                                                          : "Button";
    if (region.control == nullptr || region.kind != wanted) {
      return Fail("the panel's control " + Quote(chosen->captions[0]) + " is no " + wanted +
                  " control");
    }
    if (!region.control->Enabled.Get()) return Fail(LockedControl(action, w[1], *device, value));
  }
  switch (chosen->kind) {
    case Action::Text: {
      if (!panel->TypeText(region.path, value, &error)) return Fail(error);
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
      if (!panel->Choose(region.path, item, &error)) return Fail(error);
      Say(action + ": " + item);
      return true;
    }
    case Action::CheckBox: {
      bool on = false;
      if (!ParseOnOff(value, &on, &error)) return Fail(error);
      auto* box = static_cast<FBButton*>(region.control);
      if ((box->State.Get() != 0) != on) {
        if (!panel->Click(region.path, &error)) return Fail(error);
      }
      const bool now = box->State.Get() != 0;
      Say(action + ": " + (now ? "on" : "off"));
      return now == on ? true
                       : Fail("the check box " + Quote(chosen->captions[0]) + " stayed " +
                              (now ? "on" : "off"));
    }
    case Action::Click: {
      if (!panel->Click(region.path, &error)) return Fail(error);
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
