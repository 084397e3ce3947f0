#include "scene_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <system_error>
#include <utility>

#include "host_text.h"

namespace fbhost_internal {
namespace {

constexpr const char* kMagic = "orbel-scene";
// 2 added template bindings and takes; 1 still reads.
constexpr int kVersion = 2;
constexpr int kTakesVersion = 2;
// Bounds far above any real scene; they only stop a damaged count from
// being believed.
constexpr long long kMaxModels = 10000000;
constexpr long long kMaxDevices = 100000;
constexpr long long kMaxFields = 1000000;
constexpr long long kMaxValues = 100000000;
constexpr long long kMaxBindings = 10000000;
constexpr long long kMaxPathDepth = 100000;
constexpr long long kMaxTakes = 100000;
constexpr long long kMaxLayers = 100000;
constexpr long long kMaxCurves = 10000000;
constexpr long long kMaxKeys = 1000000000;
// The shortest key line ("0 0 0 0 0 0" and its line end): a count may not
// promise more keys than the rest of the text can hold.
constexpr std::size_t kShortestKeyLine = 12;
// Progress is told every this many keys or bytes.
constexpr std::size_t kProgressStep = 1 << 16;

const char* const kKinds[] = {"Model", "Root", "Null", "Skeleton", "Marker"};

std::string FormatDouble(double value) {
  char buffer[64];
  // Shortest text that reads back to the same double, bit for bit.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

struct Token {
  bool quoted = false;
  std::string text;
};

bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* why) {
  tokens->clear();
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    Token token;
    if (line[i] == '"') {
      token.quoted = true;
      std::size_t end = 0;
      if (!UnquoteText(line, i, &token.text, &end, why)) return false;
      if (end < line.size() && line[end] != ' ' && line[end] != '\t') {
        *why = "text right after a closing quote";
        return false;
      }
      i = end;
    } else {
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
        if (line[i] == '"') {
          *why = "a quote inside a word";
          return false;
        }
        ++i;
      }
      token.text = line.substr(start, i - start);
    }
    tokens->push_back(std::move(token));
  }
  return true;
}

class Reader {
 public:
  Reader(const std::string& text, const std::string& path) : mText(text), mPath(path) {}

  // The next line that is not blank or a comment, split into tokens. Answers
  // false at the end of the text or on a line that cannot be split.
  bool Next(std::vector<Token>* tokens) {
    while (mPos < mText.size()) {
      std::size_t end = mText.find('\n', mPos);
      if (end == std::string::npos) end = mText.size();
      mLine = mText.substr(mPos, end - mPos);
      mPos = end + 1;
      ++mLineNumber;
      if (!mLine.empty() && mLine.back() == '\r') mLine.pop_back();
      std::size_t first = 0;
      while (first < mLine.size() && (mLine[first] == ' ' || mLine[first] == '\t')) ++first;
      if (first == mLine.size() || mLine[first] == '#') continue;
      std::string why;
      if (!Tokenize(mLine, tokens, &why)) {
        Fail(why);
        return false;
      }
      return true;
    }
    mAtEnd = true;
    return false;
  }

  // Records the first error only.
  void Fail(const std::string& what) {
    if (!mError.empty()) return;
    if (mAtEnd) {
      mError = "scene file '" + mPath + "' ends early, at line " + std::to_string(mLineNumber) +
               ": " + what + " (is it truncated?)";
    } else {
      mError = "scene file '" + mPath + "' line " + std::to_string(mLineNumber) + ": " + what +
               "; found '" + Excerpt(mLine) + "'";
    }
  }
  bool Failed() const { return !mError.empty(); }
  const std::string& Error() const { return mError; }
  int LineNumber() const { return mLineNumber; }
  std::size_t Position() const { return mPos; }
  std::size_t Remaining() const { return mPos < mText.size() ? mText.size() - mPos : 0; }

  // The next line that is not blank or a comment, as it is, without
  // copying or splitting it: the many key lines of a take are read this
  // way. False at the end of the text.
  bool NextRaw(const char** begin, const char** end) {
    while (mPos < mText.size()) {
      std::size_t stop = mText.find('\n', mPos);
      if (stop == std::string::npos) stop = mText.size();
      const char* first = mText.data() + mPos;
      const char* last = mText.data() + stop;
      mPos = stop + 1;
      ++mLineNumber;
      if (last > first && last[-1] == '\r') --last;
      const char* at = first;
      while (at < last && (*at == ' ' || *at == '\t')) ++at;
      if (at == last || *at == '#') continue;
      *begin = first;
      *end = last;
      return true;
    }
    mAtEnd = true;
    return false;
  }
  // Fails on a line NextRaw gave.
  void FailRaw(const std::string& what, const char* begin, const char* end) {
    mLine.assign(begin, end);
    Fail(what);
  }

  // Reads a line and checks that it is `count` tokens long and starts with `word`.
  bool Expect(const char* word, std::size_t count, std::vector<Token>* tokens) {
    if (!Next(tokens)) {
      if (!Failed()) Fail(std::string("expected a '") + word + "' line");
      return false;
    }
    if (tokens->empty() || (*tokens)[0].quoted || (*tokens)[0].text != word) {
      Fail(std::string("expected a '") + word + "' line");
      return false;
    }
    if (tokens->size() != count) {
      Fail(std::string("a '") + word + "' line must have " + std::to_string(count) +
           " items; this one has " + std::to_string(tokens->size()));
      return false;
    }
    return true;
  }

 private:
  const std::string& mText;
  const std::string& mPath;
  std::size_t mPos = 0;
  int mLineNumber = 0;
  std::string mLine;
  bool mAtEnd = false;
  std::string mError;
};

bool ToInteger(const Token& token, long long low, long long high, long long* value) {
  if (token.quoted || token.text.empty()) return false;
  const char* begin = token.text.data();
  const char* end = begin + token.text.size();
  const auto result = std::from_chars(begin, end, *value);
  return result.ec == std::errc() && result.ptr == end && *value >= low && *value <= high;
}

bool ToDouble(const Token& token, double* value) {
  if (token.quoted || token.text.empty()) return false;
  const char* begin = token.text.data();
  const char* end = begin + token.text.size();
  // from_chars takes no '+'; the writer never writes one.
  const auto result = std::from_chars(begin, end, *value);
  return result.ec == std::errc() && result.ptr == end;
}

// Checks the keyword at tokens[at] and reads the integer after it.
bool KeywordInteger(Reader& reader, const std::vector<Token>& tokens, std::size_t at,
                    const char* keyword, long long low, long long high, long long* value) {
  if (tokens[at].quoted || tokens[at].text != keyword) {
    reader.Fail(std::string("expected '") + keyword + "' as item " + std::to_string(at + 1));
    return false;
  }
  if (!ToInteger(tokens[at + 1], low, high, value)) {
    reader.Fail(std::string("'") + keyword + "' needs a whole number from " + std::to_string(low) +
                " to " + std::to_string(high) + ", not '" + Excerpt(tokens[at + 1].text) + "'");
    return false;
  }
  return true;
}

bool KeywordDoubles(Reader& reader, const std::vector<Token>& tokens, std::size_t at,
                    const char* keyword, std::array<double, 3>* values) {
  if (tokens[at].quoted || tokens[at].text != keyword) {
    reader.Fail(std::string("expected '") + keyword + "' as item " + std::to_string(at + 1));
    return false;
  }
  for (std::size_t k = 0; k < 3; ++k) {
    if (!ToDouble(tokens[at + 1 + k], &(*values)[k])) {
      reader.Fail(std::string("'") + keyword + "' needs three numbers; '" +
                  Excerpt(tokens[at + 1 + k].text) + "' is not one");
      return false;
    }
  }
  return true;
}

// Checks a model line's number (item 2) and reads its class (item 3).
bool NumberAndKind(Reader& reader, const std::vector<Token>& t, long long index, const char* what,
                   std::string* kind) {
  long long value = 0;
  if (!ToInteger(t[1], index, index, &value)) {
    reader.Fail("expected " + std::string(what) + " number " + std::to_string(index));
    return false;
  }
  *kind = t[2].text;
  if (t[2].quoted || !IsSceneModelKind(*kind)) {
    reader.Fail("unknown model class '" + Excerpt(t[2].text) +
                "' (known: Model, Root, Null, Skeleton, Marker)");
    return false;
  }
  return true;
}

bool ReadModel(Reader& reader, long long index, SceneModelRecord* model) {
  // model <i> <kind> "<label>" parent <p> show <0|1> color <r g b> shading <s>
  //   translation <x y z> rotation <x y z>
  std::vector<Token> t;
  if (!reader.Expect("model", 22, &t)) return false;
  model->line = reader.LineNumber();
  long long value = 0;
  if (!NumberAndKind(reader, t, index, "model", &model->kind)) return false;
  if (!t[3].quoted || t[3].text.empty()) {
    reader.Fail("a model needs a quoted, non-empty label name");
    return false;
  }
  model->label = t[3].text;
  if (!KeywordInteger(reader, t, 4, "parent", -1, index - 1, &value)) return false;
  model->parent = static_cast<int>(value);
  if (!KeywordInteger(reader, t, 6, "show", 0, 1, &value)) return false;
  model->show = value != 0;
  if (!KeywordDoubles(reader, t, 8, "color", &model->color)) return false;
  if (!KeywordInteger(reader, t, 12, "shading", 0, 3, &value)) return false;
  model->shading = static_cast<int>(value);
  if (!KeywordDoubles(reader, t, 14, "translation", &model->translation)) return false;
  return KeywordDoubles(reader, t, 18, "rotation", &model->rotation);
}

bool ReadValue(Reader& reader, fbhost::FieldValue* value) {
  std::vector<Token> t;
  if (!reader.Next(&t)) {
    if (!reader.Failed()) reader.Fail("expected a value line (C, D or I)");
    return false;
  }
  if (t.size() != 2 || t[0].quoted) {
    reader.Fail("expected a value line: C \"text\", D number or I number");
    return false;
  }
  const std::string& kind = t[0].text;
  if (kind == "C") {
    if (!t[1].quoted) {
      reader.Fail("a C value must be a quoted text");
      return false;
    }
    *value = fbhost::FieldValue::C(t[1].text);
    return true;
  }
  if (kind == "D") {
    double d = 0.0;
    if (!ToDouble(t[1], &d)) {
      reader.Fail("a D value must be a number, not '" + Excerpt(t[1].text) + "'");
      return false;
    }
    *value = fbhost::FieldValue::D(d);
    return true;
  }
  if (kind == "I") {
    long long i = 0;
    if (!ToInteger(t[1], std::numeric_limits<std::int32_t>::min(),
                   std::numeric_limits<std::int32_t>::max(), &i)) {
      reader.Fail("an I value must be a 32-bit whole number, not '" + Excerpt(t[1].text) + "'");
      return false;
    }
    *value = fbhost::FieldValue::I(static_cast<int>(i));
    return true;
  }
  reader.Fail("unknown value kind '" + Excerpt(kind) + "' (known: C, D, I)");
  return false;
}

bool ReadDevice(Reader& reader, long long index, SceneDeviceRecord* device) {
  // device <i> "<class>" "<name>" fields <n>
  std::vector<Token> t;
  if (!reader.Expect("device", 6, &t)) return false;
  device->line = reader.LineNumber();
  long long value = 0;
  if (!ToInteger(t[1], index, index, &value)) {
    reader.Fail("expected device number " + std::to_string(index));
    return false;
  }
  if (!t[2].quoted || t[2].text.empty() || !t[3].quoted) {
    reader.Fail("a device needs a quoted class name and a quoted name");
    return false;
  }
  device->className = t[2].text;
  device->name = t[3].text;
  long long fieldCount = 0;
  if (!KeywordInteger(reader, t, 4, "fields", 0, kMaxFields, &fieldCount)) return false;
  for (long long f = 0; f < fieldCount; ++f) {
    // field "<name>" <count>
    if (!reader.Expect("field", 3, &t)) return false;
    if (!t[1].quoted || t[1].text.empty()) {
      reader.Fail("a field needs a quoted, non-empty name");
      return false;
    }
    long long valueCount = 0;
    if (!ToInteger(t[2], 0, kMaxValues, &valueCount)) {
      reader.Fail("a field's value count must be a whole number from 0 to " +
                  std::to_string(kMaxValues) + ", not '" + Excerpt(t[2].text) + "'");
      return false;
    }
    fbhost::Field field;
    field.name = t[1].text;
    for (long long v = 0; v < valueCount; ++v) {
      fbhost::FieldValue fieldValue;
      if (!ReadValue(reader, &fieldValue)) return false;
      field.values.push_back(std::move(fieldValue));
    }
    device->fields.push_back(std::move(field));
  }
  return true;
}

bool ReadBindings(Reader& reader, long long modelCount, SceneDeviceRecord* device) {
  // bindings <n>, then n lines:
  // binding <model> <top> <depth> "<prefix>" "<label>" ... (depth pairs)
  std::vector<Token> t;
  long long count = 0;
  if (!reader.Expect("bindings", 2, &t) ||
      !KeywordInteger(reader, t, 0, "bindings", 0, kMaxBindings, &count)) {
    return false;
  }
  for (long long b = 0; b < count; ++b) {
    if (!reader.Next(&t)) {
      if (!reader.Failed()) reader.Fail("expected a 'binding' line");
      return false;
    }
    if (t.size() < 4 || t[0].quoted || t[0].text != "binding") {
      reader.Fail("expected a 'binding' line: binding <model> <template> <depth> and the path");
      return false;
    }
    long long model = 0, top = 0, depth = 0;
    if (!ToInteger(t[1], 0, modelCount - 1, &model) || !ToInteger(t[2], 0, INT32_MAX, &top) ||
        !ToInteger(t[3], 0, kMaxPathDepth, &depth)) {
      reader.Fail("a binding needs a model number from 0 to " + std::to_string(modelCount - 1) +
                  ", a template index and a path depth");
      return false;
    }
    if (t.size() != 4 + 2 * static_cast<std::size_t>(depth)) {
      reader.Fail("a binding of depth " + std::to_string(depth) + " must have " +
                  std::to_string(4 + 2 * depth) + " items; this one has " +
                  std::to_string(t.size()));
      return false;
    }
    SceneBindingRecord binding;
    binding.model = static_cast<int>(model);
    binding.topIndex = static_cast<int>(top);
    for (std::size_t k = 4; k < t.size(); k += 2) {
      if (!t[k].quoted || !t[k + 1].quoted) {
        reader.Fail("a binding's path is quoted prefixes and label names");
        return false;
      }
      binding.path.emplace_back(t[k].text, t[k + 1].text);
    }
    device->bindings.push_back(std::move(binding));
  }
  return true;
}

// Reads one whole number or double from [*at, end), then the blanks after
// it. False when there is none, or it is not followed by a blank or the end.
template <typename Number>
bool ReadNumber(const char** at, const char* end, Number* value) {
  const auto result = std::from_chars(*at, end, *value);
  if (result.ec != std::errc() || result.ptr == *at) return false;
  if (result.ptr != end && *result.ptr != ' ' && *result.ptr != '\t') return false;
  *at = result.ptr;
  while (*at < end && (**at == ' ' || **at == '\t')) ++*at;
  return true;
}

bool ReadKey(Reader& reader, FBTakeKey* key) {
  // <ticks> <x> <y> <z> <interpolation> <tangent mode>
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!reader.NextRaw(&begin, &end)) {
    reader.Fail("expected a key line: ticks, three values, interpolation, tangent mode");
    return false;
  }
  const char* at = begin;
  while (at < end && (*at == ' ' || *at == '\t')) ++at;
  long long ticks = 0;
  int interpolation = 0, tangent = 0;
  if (!ReadNumber(&at, end, &ticks) || !ReadNumber(&at, end, &key->value[0]) ||
      !ReadNumber(&at, end, &key->value[1]) || !ReadNumber(&at, end, &key->value[2]) ||
      !ReadNumber(&at, end, &interpolation) || !ReadNumber(&at, end, &tangent) || at != end) {
    reader.FailRaw("a key line is six numbers: ticks, three values, interpolation, tangent mode",
                   begin, end);
    return false;
  }
  if (!std::isfinite(key->value[0]) || !std::isfinite(key->value[1]) ||
      !std::isfinite(key->value[2])) {
    reader.FailRaw("a key's values must be finite numbers", begin, end);
    return false;
  }
  if (interpolation < kFBInterpolationConstant || interpolation > kFBInterpolationCubic ||
      tangent < kFBTangentModeAuto || tangent > kFBTangentModeBreak) {
    reader.FailRaw("a key's interpolation and tangent mode must each be 0, 1 or 2", begin, end);
    return false;
  }
  key->time = FBTime(ticks);
  key->interpolation = static_cast<FBInterpolation>(interpolation);
  key->tangentMode = static_cast<FBTangentMode>(tangent);
  return true;
}

bool ReadTakeModel(Reader& reader, int index, std::set<std::string>* labels, FBTakeModel* model) {
  // takemodel <j> <kind> "<label>" parent <p> child <c> translation <x y z>
  //   rotation <x y z>
  std::vector<Token> t;
  if (!reader.Expect("takemodel", 16, &t)) return false;
  long long value = 0;
  if (!NumberAndKind(reader, t, index, "take model", &model->kind)) return false;
  if (!t[3].quoted || t[3].text.empty() || !labels->insert(t[3].text).second) {
    reader.Fail("a take model needs a quoted label name, not empty and not given before");
    return false;
  }
  model->label = t[3].text;
  if (!KeywordInteger(reader, t, 4, "parent", -1, index - 1, &value)) return false;
  model->parent = static_cast<int>(value);
  if (!KeywordInteger(reader, t, 6, "child", -1, INT32_MAX, &value)) return false;
  model->childIndex = static_cast<int>(value);
  std::array<double, 3> translation{}, rotation{};
  if (!KeywordDoubles(reader, t, 8, "translation", &translation) ||
      !KeywordDoubles(reader, t, 12, "rotation", &rotation)) {
    return false;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    model->translation[i] = translation[i];
    model->rotation[i] = rotation[i];
  }
  return true;
}

bool ReadTake(Reader& reader, long long index, const SceneProgress& progress, std::size_t textSize,
              SceneTakeRecord* take) {
  // take <i> "<name>" current <0|1> span <start> <stop> layers <n>
  //   current-layer <l> models <m> curves <c>
  std::vector<Token> t;
  if (!reader.Expect("take", 16, &t)) return false;
  take->line = reader.LineNumber();
  long long value = 0, stop = 0, layers = 0, models = 0, curves = 0;
  if (!ToInteger(t[1], index, index, &value)) {
    reader.Fail("expected take number " + std::to_string(index));
    return false;
  }
  if (!t[2].quoted) {
    reader.Fail("a take needs a quoted name");
    return false;
  }
  take->name = t[2].text;
  if (!KeywordInteger(reader, t, 3, "current", 0, 1, &value)) return false;
  take->current = value != 0;
  if (!KeywordInteger(reader, t, 5, "span", INT64_MIN, INT64_MAX, &value)) return false;
  take->spanStart = value;
  if (!ToInteger(t[7], INT64_MIN, INT64_MAX, &stop)) {
    reader.Fail("'span' needs two whole numbers of ticks, not '" + Excerpt(t[7].text) + "'");
    return false;
  }
  take->spanStop = stop;
  if (!KeywordInteger(reader, t, 8, "layers", 1, kMaxLayers, &layers)) return false;
  take->layers = static_cast<int>(layers);
  if (!KeywordInteger(reader, t, 10, "current-layer", 0, layers - 1, &value)) return false;
  take->currentLayer = static_cast<int>(value);
  if (!KeywordInteger(reader, t, 12, "models", 0, kMaxModels, &models) ||
      !KeywordInteger(reader, t, 14, "curves", 0, kMaxCurves, &curves)) {
    return false;
  }
  std::set<std::string> labels;
  for (long long m = 0; m < models; ++m) {
    FBTakeModel model;
    if (!ReadTakeModel(reader, static_cast<int>(m), &labels, &model)) return false;
    take->models.push_back(std::move(model));
  }
  std::set<std::pair<std::string, int>> seen;
  std::size_t sinceProgress = 0;
  for (long long c = 0; c < curves; ++c) {
    // curve <k> "<node name>" "<data type>" layer <l> keys <n>
    if (!reader.Expect("curve", 8, &t)) return false;
    if (!ToInteger(t[1], c, c, &value)) {
      reader.Fail("expected curve number " + std::to_string(c));
      return false;
    }
    if (!t[2].quoted || t[2].text.empty() || !t[3].quoted) {
      reader.Fail("a curve needs a quoted, non-empty node name and a quoted data type");
      return false;
    }
    SceneCurveRecord curve;
    curve.nodeName = t[2].text;
    curve.dataType = t[3].text;
    long long keyCount = 0;
    if (!KeywordInteger(reader, t, 4, "layer", 0, layers - 1, &value) ||
        !KeywordInteger(reader, t, 6, "keys", 0, kMaxKeys, &keyCount)) {
      return false;
    }
    curve.layer = static_cast<int>(value);
    if (!seen.emplace(curve.nodeName, curve.layer).second) {
      reader.Fail("the take already has a curve of node '" + Excerpt(curve.nodeName) +
                  "' in layer " + std::to_string(curve.layer));
      return false;
    }
    if (static_cast<unsigned long long>(keyCount) > reader.Remaining() / kShortestKeyLine) {
      reader.Fail("the curve promises " + std::to_string(keyCount) +
                  " keys, more than the rest of the file can hold (is it truncated?)");
      return false;
    }
    curve.keys.resize(static_cast<std::size_t>(keyCount));
    for (std::size_t k = 0; k < curve.keys.size(); ++k) {
      if (!ReadKey(reader, &curve.keys[k])) return false;
      if (k > 0 && !(curve.keys[k - 1].time < curve.keys[k].time)) {
        reader.Fail("a curve's key times must grow from key to key");
        return false;
      }
      if (progress && ++sinceProgress == kProgressStep) {
        sinceProgress = 0;
        progress(reader.Position(), textSize);
      }
    }
    take->curves.push_back(std::move(curve));
  }
  return true;
}

}  // namespace

bool IsSceneModelKind(const std::string& kind) {
  for (const char* k : kKinds) {
    if (kind == k) return true;
  }
  return false;
}

namespace {

void AppendNumber(std::string& out, long long value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void AppendDouble(std::string& out, double value) {
  char buffer[32];
  // Shortest text that reads back to the same double, bit for bit.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void WriteTakes(const SceneDocument& document, const SceneProgress& progress, std::string& out) {
  std::size_t totalKeys = 0;
  for (const auto& take : document.takes) {
    for (const auto& curve : take.curves) totalKeys += curve.keys.size();
  }
  // Grown once, not copied at every doubling: a big take is most of the file.
  constexpr std::size_t kKeyLineBytes = 72;
  out.reserve(out.size() + totalKeys * kKeyLineBytes + 4096);
  std::size_t done = 0, sinceProgress = 0;
  out += "takes " + std::to_string(document.takes.size()) + "\n";
  for (std::size_t i = 0; i < document.takes.size(); ++i) {
    const SceneTakeRecord& take = document.takes[i];
    out += "take " + std::to_string(i) + " " + QuoteText(take.name) + " current " +
           (take.current ? "1" : "0") + " span " + std::to_string(take.spanStart) + " " +
           std::to_string(take.spanStop) + " layers " + std::to_string(take.layers) +
           " current-layer " + std::to_string(take.currentLayer) + " models " +
           std::to_string(take.models.size()) + " curves " + std::to_string(take.curves.size()) +
           "\n";
    for (std::size_t m = 0; m < take.models.size(); ++m) {
      const FBTakeModel& model = take.models[m];
      out += "takemodel " + std::to_string(m) + " " + model.kind + " " + QuoteText(model.label) +
             " parent " + std::to_string(model.parent) + " child " +
             std::to_string(model.childIndex) + " translation";
      for (double v : model.translation) out += " " + FormatDouble(v);
      out += " rotation";
      for (double v : model.rotation) out += " " + FormatDouble(v);
      out += "\n";
    }
    for (std::size_t c = 0; c < take.curves.size(); ++c) {
      const SceneCurveRecord& curve = take.curves[c];
      out += "curve " + std::to_string(c) + " " + QuoteText(curve.nodeName) + " " +
             QuoteText(curve.dataType) + " layer " + std::to_string(curve.layer) + " keys " +
             std::to_string(curve.keys.size()) + "\n";
      for (const FBTakeKey& key : curve.keys) {
        AppendNumber(out, key.time.Get());
        for (double v : key.value) {
          out += ' ';
          AppendDouble(out, v);
        }
        out += ' ';
        AppendNumber(out, static_cast<long long>(key.interpolation));
        out += ' ';
        AppendNumber(out, static_cast<long long>(key.tangentMode));
        out += '\n';
        ++done;
        if (progress && ++sinceProgress == kProgressStep) {
          sinceProgress = 0;
          progress(done, totalKeys);
        }
      }
    }
  }
}

}  // namespace

std::string WriteSceneText(const SceneDocument& document, const SceneProgress& progress) {
  std::string out;
  out += std::string(kMagic) + " " + std::to_string(kVersion) + "\n";
  out += "# A scene saved by orbel-host; the format is described in host/SCENE_FORMAT.md.\n";
  out += "models " + std::to_string(document.models.size()) + "\n";
  for (std::size_t i = 0; i < document.models.size(); ++i) {
    const auto& m = document.models[i];
    out += "model " + std::to_string(i) + " " + m.kind + " " + QuoteText(m.label) + " parent " +
           std::to_string(m.parent) + " show " + (m.show ? "1" : "0") + " color";
    for (double c : m.color) out += " " + FormatDouble(c);
    out += " shading " + std::to_string(m.shading) + " translation";
    for (double c : m.translation) out += " " + FormatDouble(c);
    out += " rotation";
    for (double c : m.rotation) out += " " + FormatDouble(c);
    out += "\n";
  }
  out += "devices " + std::to_string(document.devices.size()) + "\n";
  for (std::size_t i = 0; i < document.devices.size(); ++i) {
    const auto& d = document.devices[i];
    out += "device " + std::to_string(i) + " " + QuoteText(d.className) + " " + QuoteText(d.name) +
           " fields " + std::to_string(d.fields.size()) + "\n";
    for (const auto& field : d.fields) {
      out += "field " + QuoteText(field.name) + " " + std::to_string(field.values.size()) + "\n";
      for (const auto& v : field.values) {
        switch (v.kind) {
          case fbhost::FieldValue::Kind::Text:
            out += "C " + QuoteText(v.text) + "\n";
            break;
          case fbhost::FieldValue::Kind::Double:
            out += "D " + FormatDouble(v.number) + "\n";
            break;
          case fbhost::FieldValue::Kind::Integer:
            out += "I " + std::to_string(v.integer) + "\n";
            break;
        }
      }
    }
    out += "bindings " + std::to_string(d.bindings.size()) + "\n";
    for (const SceneBindingRecord& binding : d.bindings) {
      out += "binding " + std::to_string(binding.model) + " " + std::to_string(binding.topIndex) +
             " " + std::to_string(binding.path.size());
      for (const auto& [prefix, label] : binding.path) {
        out += " " + QuoteText(prefix) + " " + QuoteText(label);
      }
      out += "\n";
    }
  }
  WriteTakes(document, progress, out);
  out += "end\n";
  return out;
}

bool ParseSceneText(const std::string& text, const std::string& path, SceneDocument* document,
                    std::string* error, const SceneProgress& progress) {
  SceneDocument doc;
  Reader reader(text, path);
  std::vector<Token> t;
  long long number = 0;
  if (text.find('\0') != std::string::npos) {
    *error = "scene file '" + path + "' is not a scene file (it holds binary data)";
    return false;
  }
  if (!reader.Next(&t) || t.size() != 2 || t[0].quoted || t[0].text != kMagic) {
    *error = "scene file '" + path + "' is not a scene file (it does not start with '" + kMagic +
             " " + std::to_string(kVersion) + "')";
    return false;
  }
  if (!ToInteger(t[1], 1, kVersion, &number)) {
    *error = "scene file '" + path + "' has format version '" + Excerpt(t[1].text) +
             "'; this host reads versions 1 to " + std::to_string(kVersion);
    return false;
  }
  const long long version = number;
  if (!reader.Expect("models", 2, &t) ||
      !KeywordInteger(reader, t, 0, "models", 0, kMaxModels, &number)) {
    *error = reader.Error();
    return false;
  }
  for (long long i = 0; i < number; ++i) {
    SceneModelRecord model;
    if (!ReadModel(reader, i, &model)) {
      *error = reader.Error();
      return false;
    }
    doc.models.push_back(std::move(model));
  }
  if (!reader.Expect("devices", 2, &t) ||
      !KeywordInteger(reader, t, 0, "devices", 0, kMaxDevices, &number)) {
    *error = reader.Error();
    return false;
  }
  const auto modelCount = static_cast<long long>(doc.models.size());
  for (long long i = 0; i < number; ++i) {
    SceneDeviceRecord device;
    if (!ReadDevice(reader, i, &device) ||
        (version >= kTakesVersion && !ReadBindings(reader, modelCount, &device))) {
      *error = reader.Error();
      return false;
    }
    doc.devices.push_back(std::move(device));
  }
  if (version >= kTakesVersion) {
    if (!reader.Expect("takes", 2, &t) ||
        !KeywordInteger(reader, t, 0, "takes", 0, kMaxTakes, &number)) {
      *error = reader.Error();
      return false;
    }
    bool current = false;
    for (long long i = 0; i < number; ++i) {
      SceneTakeRecord take;
      if (!ReadTake(reader, i, progress, text.size(), &take)) {
        *error = reader.Error();
        return false;
      }
      if (take.current && current) {
        *error = "scene file '" + path + "' line " + std::to_string(take.line) +
                 ": a second take is marked current";
        return false;
      }
      current = current || take.current;
      doc.takes.push_back(std::move(take));
    }
  }
  if (!reader.Expect("end", 1, &t)) {
    *error = reader.Error();
    return false;
  }
  if (reader.Next(&t)) {
    reader.Fail("nothing may follow 'end'");
  }
  if (reader.Failed()) {
    *error = reader.Error();
    return false;
  }
  *document = std::move(doc);
  return true;
}

}  // namespace fbhost_internal
