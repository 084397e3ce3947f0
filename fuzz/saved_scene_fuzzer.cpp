// A scene file saved by the host program, read as its loader reads it (any
// version it knows). A file that reads must write back to a text that reads
// to the same scene, every double and every key bit for bit, and writing
// that again changes nothing.
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

bool sameBits3(const double* a, const double* b) {
  return sameBits(a[0], b[0]) && sameBits(a[1], b[1]) && sameBits(a[2], b[2]);
}

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
    check(x.bindings.size() == y.bindings.size(), "a device's bindings read back otherwise");
    for (std::size_t b = 0; b < x.bindings.size(); ++b) {
      check(x.bindings[b].model == y.bindings[b].model &&
                x.bindings[b].topIndex == y.bindings[b].topIndex &&
                x.bindings[b].path == y.bindings[b].path,
            "a binding reads back otherwise");
    }
  }
  check(a.takes.size() == b.takes.size(), "the written scene has another number of takes");
  for (std::size_t t = 0; t < a.takes.size(); ++t) {
    const host::SceneTakeRecord& x = a.takes[t];
    const host::SceneTakeRecord& y = b.takes[t];
    check(x.name == y.name && x.current == y.current && x.spanStart == y.spanStart &&
              x.spanStop == y.spanStop && x.layers == y.layers &&
              x.currentLayer == y.currentLayer && x.models.size() == y.models.size() &&
              x.curves.size() == y.curves.size(),
          "a take reads back otherwise");
    for (std::size_t m = 0; m < x.models.size(); ++m) {
      const FBTakeModel& p = x.models[m];
      const FBTakeModel& q = y.models[m];
      check(p.label == q.label && p.kind == q.kind && p.parent == q.parent &&
                p.childIndex == q.childIndex && sameBits3(p.translation, q.translation) &&
                sameBits3(p.rotation, q.rotation),
            "a take's model reads back otherwise");
    }
    for (std::size_t c = 0; c < x.curves.size(); ++c) {
      const host::SceneCurveRecord& p = x.curves[c];
      const host::SceneCurveRecord& q = y.curves[c];
      check(p.nodeName == q.nodeName && p.dataType == q.dataType && p.layer == q.layer &&
                p.keys.size() == q.keys.size(),
            "a curve reads back otherwise");
      for (std::size_t k = 0; k < p.keys.size(); ++k) {
        check(p.keys[k].time == q.keys[k].time && sameBits3(p.keys[k].value, q.keys[k].value) &&
                  p.keys[k].interpolation == q.keys[k].interpolation &&
                  p.keys[k].tangentMode == q.keys[k].tangentMode,
              "a key reads back otherwise");
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
