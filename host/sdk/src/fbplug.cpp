#include "fbsdk/fbplug.h"

// Constant-initialised (before any dynamic initialiser of any library runs),
// so every class may take its number from it at load time.
int FBPlug::mGlobalTypeInfo = 1;
int FBPlug::TypeInfo = FBPlug::mGlobalTypeInfo++;

FBPlug::~FBPlug() = default;

const char* FBPlug::ClassName() { return "FBPlug"; }
int FBPlug::GetTypeId() { return FBPlug::TypeInfo; }
bool FBPlug::Is(int typeId) { return typeId == FBPlug::TypeInfo; }
HIObject FBPlug::GetHIObject() { return nullptr; }
