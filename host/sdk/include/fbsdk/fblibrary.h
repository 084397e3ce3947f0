// fblibrary.h: the plug-in library object and the library entry points.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fblibrary.cpp).
//
// Every plug-in holds one static FBLibrary (or a class derived from
// FBLibraryBase). Its constructor, run by the plug-in's static initialisers at
// load, announces it to the host; its destructor, run at unload, withdraws
// it. The host calls the five stage callbacks on the loader's thread, after
// the plug-in's entry point has run with kFBDllLoad: LibInit, LibOpen and
// LibReady at start-up, LibClose and LibRelease at shut-down. A false answer
// is reported by the host and changes nothing else.
//
// The entry points a plug-in exports, unmangled (extern "C"), default
// visibility, noexcept:
//   bool LIBRARY_INIT(HIObject)               answers true; called first
//   void EntryPoint<Name>(kFBDllOperation)     kFBDllLoad registers the classes
// The host rejects a library that lacks either of them.
#pragma once

#include "fbsdk/fbsdk_api.h"

// The operation code the host passes to a plug-in's entry point.
enum kFBDllOperation {
  kFBDllLoad = 0,    // register the library's classes (FBObject_Register)
  kFBDllConfig = 1,  // configuration pass; plug-ins usually ignore it
};

using FBLibraryInitFunction = bool (*)(HIObject object);
using FBEntryPointFunction = void (*)(kFBDllOperation operation);

class FBSDK_API FBLibraryBase {
 public:
  FBLibraryBase();
  FBLibraryBase(const FBLibraryBase&) = delete;
  FBLibraryBase& operator=(const FBLibraryBase&) = delete;

  // The host's own slots.
  virtual void* IQuery(const char* interfaceName);
  virtual void Destroy();
  virtual ~FBLibraryBase();

  // Library-stage callbacks; the base answers true.
  virtual bool LibInit();
  virtual bool LibOpen();
  virtual bool LibReady();
  virtual bool LibClose();
  virtual bool LibRelease();
};

// The plain library object: every stage answers true and does nothing else.
class FBSDK_API FBLibrary : public FBLibraryBase {
 public:
  FBLibrary() = default;
  ~FBLibrary() override;
  bool LibInit() override;
  bool LibOpen() override;
  bool LibReady() override;
  bool LibClose() override;
  bool LibRelease() override;
};
