// A broken plug-in candidate: it has the entry point but no LIBRARY_INIT.
#include <fbsdk/fblibrary.h>

extern "C" __attribute__((visibility("default"))) void EntryPointOrbelMobuOptical(
    kFBDllOperation) noexcept {}
