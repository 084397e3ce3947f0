// The plug-in library defines the default server address that the reader
// copies. Programs that link the reader without the plug-in (tests,
// benchmarks) link orbel::reader_standalone_defaults for the same values.
#include "orbel_defaults.h"

const FBString gOrbelDefaultServerPort("801");
const FBString gOrbelDefaultServerHost("localhost");
