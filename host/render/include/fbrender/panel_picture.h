// fbrender/panel_picture.h: pictures of an open panel (fbhost/panel.h), as
// the host program shows it, in PNG and SVG.
//
// Side of the boundary: host program. Link orbel::render; plug-ins never do.
// UI thread, like the panel itself.
//
// The host draws the device's header (its name, Online, Live and Recording
// flags and its status, and below them its information text) above the
// panel, then every region at its resolved rectangle: labels as text, edits
// and lists as white fields, push buttons as raised boxes, check boxes as a
// box (ticked when State is 1) with the caption beside it, tab strips as a
// strip of tabs, layouts with their border. Disabled controls are greyed. A
// region that could not be placed is outlined in red. Texts are in DejaVu
// Sans Mono at 9.5 panel pixels, any Unicode text included; the SVG keeps
// them as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fbhost/panel.h"

namespace fbrender {

std::string PanelSvg(const fbhost::Panel& panel);
// A PNG picture (8-bit RGB), each panel pixel drawn as scale x scale pixels
// (1 to 8).
std::vector<std::uint8_t> PanelPng(const fbhost::Panel& panel, int scale = 2);
// Write the picture to a file, safely (fbhost/config.h); false with *error.
bool WritePanelPng(const fbhost::Panel& panel, const std::string& path, int scale = 2,
                   std::string* error = nullptr);
bool WritePanelSvg(const fbhost::Panel& panel, const std::string& path,
                   std::string* error = nullptr);

}  // namespace fbrender
