// The plug-in library defines the default server address that the reader
// copies; test programs that link the reader without the plug-in define the
// same values here.
#include "orbel_defaults.h"

const FBString gOrbelDefaultServerPort("801");
const FBString gOrbelDefaultServerHost("localhost");
