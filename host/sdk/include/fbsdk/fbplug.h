// fbplug.h: FBPlug, the root of every host class, with the host's global type
// counter and the per-class type numbers.
//
// Side of the boundary: SDK. Implemented in libfbsdk (sdk/src/fbplug.cpp).
//
// Type numbers. FBPlug::mGlobalTypeInfo is the next free type number. A class
// takes its number once, at load time, by reading the counter and then
// incrementing it (`int X::TypeInfo = FBPlug::mGlobalTypeInfo++;`, which is
// what FBClassImplementation writes). Numbers are process-wide, start at 1 and
// are never reused. The counter is only touched by static initialisers, which
// the loader runs on one thread; it is not atomic.
//
// Type queries are virtual: GetTypeId answers the object's own class number,
// Is(n) answers true for the number of its class and of every host base class,
// ClassName answers the class's name. They may be called from any thread.
#pragma once

#include "fbsdk/fbsdk_api.h"

class FBSDK_API FBPlug {
 public:
  static int mGlobalTypeInfo;
  static int TypeInfo;

  FBPlug() = default;
  FBPlug(const FBPlug&) = delete;
  FBPlug& operator=(const FBPlug&) = delete;
  virtual ~FBPlug();

  virtual const char* ClassName();
  virtual int GetTypeId();
  virtual bool Is(int typeId);
  // The host handle of this object (see fbcomponent.h); null for a plug that
  // is not a component.
  virtual HIObject GetHIObject();
};

// Declares the type machinery of a host class derived (directly) from Parent.
// Put it first in the class body; pair it with FBClassImplementation(Name) in
// one .cpp. A plug-in class whose type number must be taken at a precise
// point of the load writes the three overrides by hand instead.
#define FBClassDeclare(Name, Parent)                                                      \
 public:                                                                                  \
  static int TypeInfo;                                                                    \
  const char* ClassName() override { return #Name; }                                      \
  int GetTypeId() override { return Name::TypeInfo; }                                     \
  bool Is(int typeId) override { return typeId == Name::TypeInfo || Parent::Is(typeId); } \
                                                                                          \
 private:

#define FBClassImplementation(Name) int Name::TypeInfo = FBPlug::mGlobalTypeInfo++
