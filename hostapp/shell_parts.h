// Pieces the host program's shell commands share across their files
// (shell.cpp, shell_devices.cpp, shell_panel.cpp, shell_transport.cpp,
// shell_takes.cpp, shell_dumps.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <fbsdk/fbdevice.h>
#include <fbsdk/fbtake.h>

namespace orbel::hostapp::shell_parts {

// Scripts are small; anything bigger is not one.
inline constexpr std::size_t kMaxScriptBytes = 16u << 20;
// How long, and how far apart, `bind` binds again while the device has not
// read the server's description. Each try wins only when a frame arrives
// between the device's own input taking one and the bind: on a busy machine
// that took over half a second.
inline constexpr int kBindRetryForMs = 3000;
inline constexpr int kBindRetryMs = 20;
// The settings file of the project's device, the default of `dump settings`.
inline constexpr const char* kDeviceSettingsFile = "@OrbelOpticalDevice.txt";
// Where the live view listens unless told.
inline constexpr int kDefaultViewPort = 7700;

// Defined, with what each does, in shell.cpp.
std::string Format(const char* format, double value);
std::vector<std::string> SubjectsOf(FBDevice* device);
std::string JoinQuoted(const std::vector<std::string>& items);
bool TakeOption(std::vector<std::string>* words, const std::string& name, std::string* value,
                std::string* error);
bool TakeFlag(std::vector<std::string>* words, const std::string& name);
bool UnknownOption(const std::vector<std::string>& words, std::string* error);
std::string LockedControl(const std::string& action, const std::string& name,
                          const FBDevice& device, const std::string& value);
bool IsPort(const std::string& text);
std::string DoubtfulEntry(const std::string& action, const std::string& typed,
                          const std::string& shown);
int KeyedSamples(FBTake* take);

}  // namespace orbel::hostapp::shell_parts
