// orbel_defaults.h: the plug-in's defaults and load-time constants.
//
// The default server address is written once, here. The statics below are
// defined in plugin/orbel_plugin.cpp, built by the library's static initialisers in
// this order: default port, default host, device type number, layout type
// number. Read them only after the library has loaded (never from another
// static initialiser: their order across files is not fixed). Never written
// after load, so any thread may read them.
#pragma once

#include <fbsdk/fbstring.h>

// The capture server's default address. The port is text, not a number.
inline constexpr const char* kOrbelDefaultServerPort = "801";
inline constexpr const char* kOrbelDefaultServerHost = "localhost";

// The same address as the plug-in's load-time statics, built from the texts
// above. The reader starts from the texts, so that programs that link the
// reader without the plug-in around it get the same address.
extern const FBString gOrbelDefaultServerPort;
extern const FBString gOrbelDefaultServerHost;

// The two class type numbers, taken from FBPlug::mGlobalTypeInfo at load,
// the device's first (so it is the smaller). The device answers
// gOrbelDeviceTypeInfo from its type-number query and includes it in its
// membership query; the layout likewise.
extern const int gOrbelDeviceTypeInfo;
extern const int gOrbelLayoutTypeInfo;
