// A scene file saved by the host program, read as its loader reads it. A
// file that reads must write back to a text that reads to the same scene,
// every double bit for bit, and writing that again changes nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "scene_text.h"

namespace {

using orbel::fuzz::check;
namespace host = fbhost_internal;

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <std::size_t N>
bool sameBits(const std::array<double, N>& a, const std::array<double, N>& b) {
  for (std::size_t i = 0; i < N; ++i) {
    if (!sameBits(a[i], b[i])) return false;
  }
  return true;
}

bool sameValue(const fbhost::FieldValue& a, const fbhost::FieldValue& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case fbhost::FieldValue::Kind::Text:
      return a.text == b.text;
    case fbhost::FieldValue::Kind::Double:
      return sameBits(a.number, b.number);
    case fbhost::FieldValue::Kind::Integer:
      return a.integer == b.integer;
  }
  return false;
}

void checkSame(const host::SceneDocument& a, const host::SceneDocument& b) {
  check(a.models.size() == b.models.size(), "the written scene has another number of models");
  for (std::size_t i = 0; i < a.models.size(); ++i) {
    const host::SceneModelRecord& x = a.models[i];
    const host::SceneModelRecord& y = b.models[i];
    check(x.kind == y.kind && x.label == y.label && x.parent == y.parent && x.show == y.show &&
              x.shading == y.shading,
          "a model reads back otherwise");
    check(sameBits(x.color, y.color) && sameBits(x.translation, y.translation) &&
              sameBits(x.rotation, y.rotation),
          "a model's numbers read back otherwise");
  }
  check(a.devices.size() == b.devices.size(), "the written scene has another number of devices");
  for (std::size_t i = 0; i < a.devices.size(); ++i) {
    const host::SceneDeviceRecord& x = a.devices[i];
    const host::SceneDeviceRecord& y = b.devices[i];
    check(x.className == y.className && x.name == y.name && x.fields.size() == y.fields.size(),
          "a device reads back otherwise");
    for (std::size_t f = 0; f < x.fields.size(); ++f) {
      check(x.fields[f].name == y.fields[f].name &&
                x.fields[f].values.size() == y.fields[f].values.size(),
            "a device field reads back otherwise");
      for (std::size_t v = 0; v < x.fields[f].values.size(); ++v) {
        check(sameValue(x.fields[f].values[v], y.fields[f].values[v]),
              "a field value reads back otherwise");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  host::SceneDocument document;
  std::string error;
  if (!host::ParseSceneText(text, "fuzz.orbs", &document, &error)) {
    check(error.find("fuzz.orbs") != std::string::npos, "a refusal that does not name the file");
    return 0;
  }
  const std::string written = host::WriteSceneText(document);
  host::SceneDocument reread;
  std::string why;
  check(host::ParseSceneText(written, "fuzz.orbs", &reread, &why),
        "a written scene does not read back");
  checkSame(document, reread);
  check(host::WriteSceneText(reread) == written, "a scene changes when written again");
  return 0;
}
