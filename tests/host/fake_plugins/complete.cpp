// A complete fake plug-in: both entry points; registers one test class.
#include <fbsdk/fblibrary.h>
#include <fbsdk/fbregistry.h>

namespace {
FBLibrary gLibrary;
HIObject Factory(HIObject, const char*, void*) { return nullptr; }
}  // namespace

extern "C" {
__attribute__((visibility("default"))) int gFakeInitCalls = 0;
__attribute__((visibility("default"))) int gFakeEntryCalls = 0;
}

extern "C" __attribute__((visibility("default"))) bool LIBRARY_INIT(HIObject) noexcept {
  ++gFakeInitCalls;
  return true;
}

extern "C" __attribute__((visibility("default"))) void EntryPointOrbelMobuOptical(
    kFBDllOperation operation) noexcept {
  ++gFakeEntryCalls;
  if (operation == kFBDllLoad) {
    FBObject_Register("Test/FakePlugin", "Fake", "A fake plug-in", Factory, true, "fake.tif");
  }
}
