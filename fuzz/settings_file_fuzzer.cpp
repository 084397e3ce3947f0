// A device settings file, read and written back as a device's load does:
// the host's text form parsed, every one of the device's nine keys read with
// its default, converted by the atoi rule and written back in normal form.
//
// The written file must read back with no bad line, every setting of the
// original still there with its value, and the nine keys holding values that
// read as what was loaded. The atoi rule is checked against the C library.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config_text.h"
#include "fuzz_check.h"
#include "orbel_settings_text.h"

namespace {

using orbel::fuzz::check;
namespace cfg = fbhost_internal;
namespace settings = orbel::settings;

enum class Kind { Text, Integer, Boolean };

struct Key {
  const char* name;
  const char* fallback;
  Kind kind;
};

constexpr const char* kSection = "DataStream";
const Key kKeys[] = {
    {"HostAddress", "localhost", Kind::Text},
    {"HostPort", "801", Kind::Text},
    {"AxisMapping", "0", Kind::Integer},
    {"StreamMarkers", "0", Kind::Boolean},
    {"StreamUnlabeledMarkers", "0", Kind::Boolean},
    {"UnlabeledMarkerCount", "100", Kind::Integer},
    {"StreamBones", "0", Kind::Boolean},
    {"UseTimecode", "0", Kind::Boolean},
    {"StripCharacterNameFromObjectName", "0", Kind::Boolean},
};

// The C library's reading, saturated to 32 bits as the device reads.
int referenceInteger(const char* text) {
  errno = 0;
  const long long v = std::strtoll(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::string normalForm(const std::string& value, Kind kind) {
  switch (kind) {
    case Kind::Text:
      return value;
    case Kind::Integer:
      return settings::FormatInteger(settings::ParseInteger(value.c_str()));
    case Kind::Boolean:
      return settings::FormatBoolean(settings::ParseBoolean(value.c_str()));
  }
  return value;
}

bool sameSettings(const cfg::ConfigDocument& a, const cfg::ConfigDocument& b) {
  if (a.sections.size() != b.sections.size()) return false;
  for (std::size_t s = 0; s < a.sections.size(); ++s) {
    const auto& x = a.sections[s];
    const auto& y = b.sections[s];
    if (x.name != y.name || x.entries.size() != y.entries.size()) return false;
    for (std::size_t e = 0; e < x.entries.size(); ++e) {
      if (x.entries[e].key != y.entries[e].key || x.entries[e].value != y.entries[e].value) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string contents(reinterpret_cast<const char*>(data), size);
  std::vector<cfg::ConfigProblem> problems;
  cfg::ConfigDocument doc = cfg::ParseConfigText(contents, &problems);
  for (const auto& p : problems) {
    check(p.line >= 1 && !p.why.empty(), "a bad line reported without its number or reason");
  }

  // What a device's load reads, then writes back.
  std::string loaded[sizeof kKeys / sizeof kKeys[0]];
  for (std::size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i) {
    const cfg::ConfigEntry* e = doc.Find(kSection, kKeys[i].name);
    loaded[i] = e != nullptr ? e->value : kKeys[i].fallback;
    if (kKeys[i].kind != Kind::Text) {
      check(settings::ParseInteger(loaded[i].c_str()) == referenceInteger(loaded[i].c_str()),
            "a number reads otherwise than the C library reads it");
    }
  }
  cfg::ConfigDocument written = doc;
  for (std::size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i) {
    cfg::SetConfigValue(&written, kSection, kKeys[i].name, normalForm(loaded[i], kKeys[i].kind),
                        nullptr);
  }
  const std::string text = cfg::WriteConfigText(written);

  std::vector<cfg::ConfigProblem> again;
  const cfg::ConfigDocument reread = cfg::ParseConfigText(text, &again);
  check(again.empty(), "a written settings file has a bad line");
  check(sameSettings(written, reread), "a written settings file reads back otherwise");
  for (std::size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i) {
    const cfg::ConfigEntry* e = reread.Find(kSection, kKeys[i].name);
    check(e != nullptr, "a loaded key is missing from the written file");
    if (kKeys[i].kind == Kind::Text) {
      check(e->value == loaded[i], "an address or port changed on the way");
    } else if (kKeys[i].kind == Kind::Boolean) {
      check(settings::ParseBoolean(e->value.c_str()) == settings::ParseBoolean(loaded[i].c_str()),
            "a switch reads otherwise once written back");
      check(e->value == normalForm(e->value, kKeys[i].kind), "a switch not in normal form");
    } else {
      check(settings::ParseInteger(e->value.c_str()) == settings::ParseInteger(loaded[i].c_str()),
            "a number reads otherwise once written back");
      check(e->value == normalForm(e->value, kKeys[i].kind), "a number not in normal form");
    }
  }
  // Writing what was read changes nothing more.
  check(cfg::WriteConfigText(reread) == text, "a settings file changes when written again");
  // Every other setting in the file survives the load.
  for (const auto& section : doc.sections) {
    for (const auto& entry : section.entries) {
      const cfg::ConfigEntry* e = reread.Find(section.name, entry.key);
      check(e != nullptr, "a setting of the file was lost");
    }
  }
  return 0;
}
