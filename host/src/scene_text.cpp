#include "scene_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include "host_text.h"

namespace fbhost_internal {
namespace {

constexpr const char* kMagic = "orbel-scene";
constexpr int kVersion = 1;
// Bounds far above any real scene; they only stop a damaged count from
// being believed.
constexpr long long kMaxModels = 10000000;
constexpr long long kMaxDevices = 100000;
constexpr long long kMaxFields = 1000000;
constexpr long long kMaxValues = 100000000;

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

bool ReadModel(Reader& reader, long long index, SceneModelRecord* model) {
  // model <i> <kind> "<label>" parent <p> show <0|1> color <r g b> shading <s>
  //   translation <x y z> rotation <x y z>
  std::vector<Token> t;
  if (!reader.Expect("model", 22, &t)) return false;
  model->line = reader.LineNumber();
  long long value = 0;
  if (!ToInteger(t[1], index, index, &value)) {
    reader.Fail("expected model number " + std::to_string(index));
    return false;
  }
  model->kind = t[2].text;
  if (t[2].quoted || !IsSceneModelKind(model->kind)) {
    reader.Fail("unknown model class '" + Excerpt(t[2].text) +
                "' (known: Model, Root, Null, Skeleton, Marker)");
    return false;
  }
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

}  // namespace

bool IsSceneModelKind(const std::string& kind) {
  for (const char* k : kKinds) {
    if (kind == k) return true;
  }
  return false;
}

std::string WriteSceneText(const SceneDocument& document) {
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
  }
  out += "end\n";
  return out;
}

bool ParseSceneText(const std::string& text, const std::string& path, SceneDocument* document,
                    std::string* error) {
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
             "'; this host reads version " + std::to_string(kVersion);
    return false;
  }
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
  for (long long i = 0; i < number; ++i) {
    SceneDeviceRecord device;
    if (!ReadDevice(reader, i, &device)) {
      *error = reader.Error();
      return false;
    }
    doc.devices.push_back(std::move(device));
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
