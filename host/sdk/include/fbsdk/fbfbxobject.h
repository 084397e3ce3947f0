// fbfbxobject.h: FBFbxObject, the field store through which an object (a
// device) writes itself into a saved scene and reads itself back.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbfbxobject.cpp).
// The host hands one store per object to its FbxStore and FbxRetrieve
// callbacks (phases: fbfbxstore_fwd.h); the scene file keeps what it holds
// (host/SCENE_FORMAT.md).
//
// What a store holds: an ordered list of named fields; each field an ordered
// list of values, each value of one of three kinds, kept with it: a text (C),
// a double (D) or a 32-bit integer (I). Names are compared exactly; several
// fields may share a name (a lookup finds the first).
//
// Writing:
//   store->FieldWriteC("NetworkAddress", "localhost");   // a one-text field
//   store->FieldWriteBegin("Bones");                     // an open field...
//   store->FieldWriteC("Bob:Bob_Hips"); store->FieldWriteD(1.5); store->FieldWriteI(1);
//   store->FieldWriteEnd();                              // ...closed
// A FieldWriteBegin while a field is open, and the one-text FieldWriteC, first
// close the open field. A value written while no field is open belongs to no
// field: it is dropped and counted (the host reports it when it saves). A
// null text is stored as "". A null or empty field name opens no field.
//
// Reading:
//   const char* address = store->FieldReadC("NetworkAddress");
//   if (store->FieldReadBegin("Bones")) {
//     int n = store->FieldReadGetCount();
//     ... store->FieldReadC(); store->FieldReadD(); store->FieldReadI(); ...
//     store->FieldReadEnd();
//   }
// Each FieldReadC/D/I without a name takes the next value of the open field.
// Reads never fail loudly; they answer neutral values instead:
//   - a value of another kind than asked: "" (C), 0.0 (D), 0 (I); the value
//     is still taken, so later reads stay in step with the writer's groups;
//   - past the last value, or with no field open: the same neutral values,
//     and nothing is taken;
//   - FieldReadC(name): the field's first value when it is a text; "" when
//     the field is missing, empty, or starts with another kind. It does not
//     disturb the field open for reading.
// A text answered by a read stays valid, unchanged, for as long as the store
// lives.
//
// Threads. One store is used by one thread at a time (the host's, during a
// save or load).
#pragma once

#include <memory>

#include "fbsdk/fbsdk_api.h"

namespace fbhost_internal {
struct FieldAccess;
}

class FBSDK_API FBFbxObject {
 public:
  FBFbxObject();
  FBFbxObject(const FBFbxObject&) = delete;
  FBFbxObject& operator=(const FBFbxObject&) = delete;
  ~FBFbxObject();

  // ---- writing ----
  void FieldWriteBegin(const char* name);
  // A whole field holding one text.
  void FieldWriteC(const char* name, const char* value);
  void FieldWriteC(const char* value);
  void FieldWriteD(double value);
  void FieldWriteI(int value);
  void FieldWriteEnd();

  // ---- reading ----
  // Opens the first field of that name for reading; false (no field open)
  // when there is none.
  bool FieldReadBegin(const char* name);
  // The number of values in the open field; 0 with none open.
  int FieldReadGetCount();
  const char* FieldReadC(const char* name);
  const char* FieldReadC();
  double FieldReadD();
  int FieldReadI();
  void FieldReadEnd();

 private:
  friend struct fbhost_internal::FieldAccess;
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};
