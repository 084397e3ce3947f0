#include "fbsdk/fbfbxobject.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fbhost/fieldstore.h"

using fbhost::Field;
using fbhost::FieldValue;

struct FBFbxObject::Impl {
  std::vector<Field> fields;
  int writing = -1;  // index of the field open for writing, or -1
  int reading = -1;  // index of the field open for reading, or -1
  std::size_t cursor = 0;
  int strayValues = 0;
  std::set<std::string> answers;  // keeps every answered text alive

  const char* Keep(const std::string& text) { return answers.insert(text).first->c_str(); }

  void Append(FieldValue value) {
    if (writing < 0) {
      ++strayValues;
      return;
    }
    fields[static_cast<std::size_t>(writing)].values.push_back(std::move(value));
  }

  int Find(const char* name) const {
    if (name == nullptr) return -1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].name == name) return static_cast<int>(i);
    }
    return -1;
  }

  // The next value of the open field, taken; null when there is none.
  const FieldValue* Take() {
    if (reading < 0) return nullptr;
    const auto& values = fields[static_cast<std::size_t>(reading)].values;
    if (cursor >= values.size()) return nullptr;
    return &values[cursor++];
  }
};

namespace fbhost_internal {
struct FieldAccess {
  static FBFbxObject::Impl& Of(const FBFbxObject& store) { return *store.mImpl; }
};
}  // namespace fbhost_internal

FBFbxObject::FBFbxObject() : mImpl(std::make_unique<Impl>()) {}
FBFbxObject::~FBFbxObject() = default;

void FBFbxObject::FieldWriteBegin(const char* name) {
  mImpl->writing = -1;
  if (name == nullptr || *name == '\0') return;
  mImpl->fields.push_back(Field{name, {}});
  mImpl->writing = static_cast<int>(mImpl->fields.size()) - 1;
}

void FBFbxObject::FieldWriteC(const char* name, const char* value) {
  FieldWriteBegin(name);
  FieldWriteC(value);
  FieldWriteEnd();
}

void FBFbxObject::FieldWriteC(const char* value) {
  mImpl->Append(FieldValue::C(value ? value : ""));
}
void FBFbxObject::FieldWriteD(double value) { mImpl->Append(FieldValue::D(value)); }
void FBFbxObject::FieldWriteI(int value) { mImpl->Append(FieldValue::I(value)); }
void FBFbxObject::FieldWriteEnd() { mImpl->writing = -1; }

bool FBFbxObject::FieldReadBegin(const char* name) {
  mImpl->reading = mImpl->Find(name);
  mImpl->cursor = 0;
  return mImpl->reading >= 0;
}

int FBFbxObject::FieldReadGetCount() {
  if (mImpl->reading < 0) return 0;
  return static_cast<int>(mImpl->fields[static_cast<std::size_t>(mImpl->reading)].values.size());
}

const char* FBFbxObject::FieldReadC(const char* name) {
  const int index = mImpl->Find(name);
  if (index < 0) return "";
  const auto& values = mImpl->fields[static_cast<std::size_t>(index)].values;
  if (values.empty() || values[0].kind != FieldValue::Kind::Text) return "";
  return mImpl->Keep(values[0].text);
}

const char* FBFbxObject::FieldReadC() {
  const FieldValue* v = mImpl->Take();
  if (v == nullptr || v->kind != FieldValue::Kind::Text) return "";
  return mImpl->Keep(v->text);
}

double FBFbxObject::FieldReadD() {
  const FieldValue* v = mImpl->Take();
  return v != nullptr && v->kind == FieldValue::Kind::Double ? v->number : 0.0;
}

int FBFbxObject::FieldReadI() {
  const FieldValue* v = mImpl->Take();
  return v != nullptr && v->kind == FieldValue::Kind::Integer ? v->integer : 0;
}

void FBFbxObject::FieldReadEnd() {
  mImpl->reading = -1;
  mImpl->cursor = 0;
}

namespace fbhost {

std::vector<Field> FieldsOf(const FBFbxObject& store) {
  return fbhost_internal::FieldAccess::Of(store).fields;
}

void SetFields(FBFbxObject& store, std::vector<Field> fields) {
  auto& impl = fbhost_internal::FieldAccess::Of(store);
  impl.fields = std::move(fields);
  impl.writing = -1;
  impl.reading = -1;
  impl.cursor = 0;
}

int StrayValueCount(const FBFbxObject& store) {
  return fbhost_internal::FieldAccess::Of(store).strayValues;
}

}  // namespace fbhost
