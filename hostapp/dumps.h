// The host program's inspection dumps, as JSON: what a user (or a test)
// reads to see the device, its templates, the scene, the settings file, a
// take and the streaming figures.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include <fbsdk/fbdevice.h>
#include <fbsdk/fbtake.h>

#include "live_stats.h"

namespace orbel::hostapp {

// The device's texts and flags: name, classes, status, information,
// hardware, icon file, online, live, recording (armed), sampling period,
// template count and model-binding root.
nlohmann::json DeviceJson(FBDevice& device);

// The device's template tree: per template its prefix, label name, style,
// bound model, animation nodes (name, identifier, data type) and children.
nlohmann::json TemplatesJson(FBDevice& device);

// The scene's models as a forest (models without a parent first, in the
// order they were made): class, label, show flag, colour (markers),
// shading mode, local translation and rotation, children.
nlohmann::json SceneJson();

// Every setting of a configuration file ("@Name.txt" or a path), grouped by
// section, with the file's path; bytes that are not UTF-8 are shown as \xHH.
// False with *error when the file cannot be read, or a file named by path
// does not exist (a missing "@" file has no settings yet).
bool SettingsJson(const std::string& name, nlohmann::json* out, std::string* error);

// The take: name, time span, layers and its curves (node, data type, layer,
// key count, first and last key time); with keys, every key as
// [seconds, x, y, z].
nlohmann::json TakeJson(FBTake& take, bool keys);

// The device's counts as the host made them, with the stream figures.
nlohmann::json StatsJson(FBDevice& device, const LiveFigures& figures);

}  // namespace orbel::hostapp
