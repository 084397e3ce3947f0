// fbhost/panel.h: a device's settings panel as the host program shows it:
// open it, act on it as a user would, and show it as a picture (PNG, SVG)
// or as text.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. Everything here
// runs on the UI thread (the host program's command loop, or a test).
//
// Opening. The panel of a device is made by the factory registered in the
// group "UI_Associated_ClassName" under the device's registered class name
// (FBDevice::mRegisteredClassName), called with the device's handle as its
// data (so FBGetFBObject(data) gives the device back). The host then lays it
// out at the panel's size and keeps it open until the Panel object is
// destroyed, which ends the layout (FBDelete: its FBDestroy, then delete).
// Close a device's panels before removing the device (ClosePanelsFor). A
// panel whose device is gone nonetheless refuses every action, is left out
// of the idle event, and is freed without its FBDestroy.
//
// Regions are named by their path: the names of the nested layouts' regions
// joined by '/' ("MainLayout/EditNetworkAddress"), or by their own name when
// no other region of the panel has it ("EditNetworkAddress").
//
// Pictures. The host draws the device's header (its name, Online, Live and
// Recording flags and its status) above the panel, then every region at its
// resolved rectangle: labels as text, edits and lists as white fields, push
// buttons as raised boxes, check boxes as a box (ticked when State is 1)
// with the caption beside it, tab strips as a strip of tabs, layouts with
// their border. Disabled controls are greyed. A region that could not be
// placed is outlined in red. Texts use a built-in 5x7 pixel font.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fbsdk/fbdevice.h"
#include "fbsdk/fblayout.h"
#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// The panel's size when the host program does not choose one; large enough
// for a page of the usual settings rows.
inline constexpr int kDefaultPanelWidth = 540;
inline constexpr int kDefaultPanelHeight = 310;
// The height of the device header drawn above the panel in pictures: the
// device's name, flags and status, and below them its information text.
inline constexpr int kPanelHeaderHeight = 36;

// One region of an open panel, resolved.
struct PanelRegion {
  std::string path;  // "MainLayout/EditNetworkAddress"
  std::string name;  // "EditNetworkAddress"
  std::string title;
  int depth = 0;  // 0 for the panel's own regions
  // The rectangle in panel pixels (relative to the panel's top-left corner)
  // and in the pixels of the layout that holds the region.
  int x = 0, y = 0, width = 0, height = 0;
  int localX = 0, localY = 0;
  std::string error;  // why it could not be placed; "" when placed
  FBVisualComponent* control = nullptr;
  // "Label", "Edit", "List", "Button", "TabPanel", "Layout", "Control" (any
  // other visual component) or "" (no control).
  std::string kind;
  FBLayout::Border border;
};

class FBSDK_API Panel {
 public:
  // Opens the panel of a device (see the file comment). Null with *error
  // quoting the device and its class when the device is not alive, has no
  // registered class name, no panel is registered for its class, or the
  // factory made nothing or no layout.
  static std::unique_ptr<Panel> Open(FBDevice* device, std::string* error = nullptr,
                                     int width = kDefaultPanelWidth,
                                     int height = kDefaultPanelHeight);
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;
  ~Panel();

  FBLayout* Layout() const;
  FBDevice* Device() const;
  int Width() const;
  int Height() const;
  // Lays the panel out again at another size.
  void Resize(int width, int height);

  // Every region, depth first in the order each layout added them.
  std::vector<PanelRegion> Regions() const;
  // The region by path or unique name; false with *error when there is none
  // or the name is not unique.
  bool FindRegion(const std::string& name, PanelRegion* region, std::string* error = nullptr) const;

  // ---- what a user does ----
  // Each answers false with *error (quoting the region and the input) and
  // changes nothing when the region is missing, holds another kind of
  // control, or the control (or a layout around it) is disabled or hidden,
  // or the device is gone. Otherwise it changes the control and raises its
  // event, whose handlers run before the call returns.

  // Types the text into an edit and commits it (Text, then OnChange).
  bool TypeText(const std::string& region, const std::string& text, std::string* error = nullptr);
  // Clicks a button (a check box flips State first; see fbcontrols.h).
  bool Click(const std::string& region, std::string* error = nullptr);
  // Chooses the item with this text in a list or tab strip (ItemIndex, then
  // OnChange).
  bool Choose(const std::string& region, const std::string& item, std::string* error = nullptr);
  bool ChooseIndex(const std::string& region, int index, std::string* error = nullptr);

  // ---- showing it ----
  // One line for the panel, then one per region: path, rectangle, kind and
  // the control's state (caption, text, items, style, state, enabled).
  std::string Dump() const;
  std::string Svg() const;
  // A PNG picture, each panel pixel drawn as scale x scale pixels (1 to 8).
  std::vector<std::uint8_t> Png(int scale = 2) const;
  // Write the picture to a file, safely (fbhost/config.h); false with *error.
  bool WritePng(const std::string& path, int scale = 2, std::string* error = nullptr) const;
  bool WriteSvg(const std::string& path, std::string* error = nullptr) const;

  // Whether the panel's device is still alive.
  bool DeviceAlive() const;

  struct Impl;

 private:
  explicit Panel(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> mImpl;
};

// Closes every open panel of the device (their Panel objects stay, but are
// then empty: every action is refused and the pictures show no regions).
FBSDK_API void ClosePanelsFor(FBDevice* device);
// How many panels are open.
FBSDK_API int OpenPanelCount();

}  // namespace fbhost
