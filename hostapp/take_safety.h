// What the shell tells a user about takes, so that none is lost or
// misread without a word: what one recording added, why it keyed nothing,
// which takes a load or a quit would throw away, and which subjects a
// device left out.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fbsdk/fbdevice.h>
#include <fbsdk/fbtake.h>

namespace orbel::hostapp {

// The key count of every curve of a take, by node serial and layer.
using KeyCounts = std::map<std::pair<std::uint64_t, int>, int>;
KeyCounts CountKeys(const FBTake& take);
// The samples a recording keyed: the most keys any curve gained since
// `before` (one key per curve and sample).
int SamplesKeyedSince(const FBTake& take, const KeyCounts& before);

// Why a recording of these armed devices keyed nothing, one sentence per
// device that has a reason; empty when none is known. settingsFile: the
// project device's settings file, read for its stream switches.
std::vector<std::string> WhyNothingKeyed(const std::vector<FBDevice*>& armed,
                                         const std::string& settingsFile);

// The takes holding keys, as "'Take 001' (120 samples)", for the message
// that refuses to drop them; empty when no take holds a key.
std::string TakesWithKeys();

// The subjects the server lists after an empty subject name, where a
// device stops reading its description (from the stream client's figures
// of the newest frame taken); empty when the list has no empty name.
std::vector<std::string> SubjectsAfterEmptyName();

}  // namespace orbel::hostapp
