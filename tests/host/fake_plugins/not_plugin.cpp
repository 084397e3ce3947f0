// A library that is no plug-in (like libfbsdk.so or the client library).
extern "C" __attribute__((visibility("default"))) int FakeNotPluginFunction() { return 1; }
