// fbhost/fieldstore.h: the host's view of a field store (FBFbxObject): the
// fields an object wrote, and fields to hand to an object that reads.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. The same thread
// rules as FBFbxObject: one thread at a time per store.
#pragma once

#include <string>
#include <vector>

#include "fbsdk/fbfbxobject.h"
#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// One value with its kind.
struct FieldValue {
  enum class Kind { Text, Double, Integer };
  Kind kind = Kind::Text;
  std::string text;     // Text
  double number = 0.0;  // Double
  int integer = 0;      // Integer

  static FieldValue C(std::string value) {
    FieldValue v;
    v.text = std::move(value);
    return v;
  }
  static FieldValue D(double value) {
    FieldValue v;
    v.kind = Kind::Double;
    v.number = value;
    return v;
  }
  static FieldValue I(int value) {
    FieldValue v;
    v.kind = Kind::Integer;
    v.integer = value;
    return v;
  }
};

struct Field {
  std::string name;
  std::vector<FieldValue> values;
};

// The fields in the store, in writing order (a field still open is included).
FBSDK_API std::vector<Field> FieldsOf(const FBFbxObject& store);
// Replaces the store's fields (closing any field open for writing or
// reading); answered texts from before stay valid.
FBSDK_API void SetFields(FBFbxObject& store, std::vector<Field> fields);
// Values written while no field was open (dropped; see fbfbxobject.h).
FBSDK_API int StrayValueCount(const FBFbxObject& store);

}  // namespace fbhost
