// orbel_defaults.h: the plug-in's load-time constants.
//
// Defined in orbel_plugin.cpp, built by the library's static initialisers in
// this order: default port, default host, device type number, layout type
// number. Read them only after the library has loaded (never from another
// static initialiser: their order across files is not fixed). Never written
// after load, so any thread may read them.
#pragma once

#include <fbsdk/fbstring.h>

// The capture server's default address; the reader's constructor copies them.
// The port is text, not a number.
extern const FBString gOrbelDefaultServerPort;  // "801"
extern const FBString gOrbelDefaultServerHost;  // "localhost"

// The two class type numbers, taken from FBPlug::mGlobalTypeInfo at load,
// the device's first (so it is the smaller). The device answers
// gOrbelDeviceTypeInfo from its type-number query and includes it in its
// membership query; the layout likewise.
extern const int gOrbelDeviceTypeInfo;
extern const int gOrbelLayoutTypeInfo;
