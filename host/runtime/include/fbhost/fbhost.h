// fbhost/fbhost.h: the host-program-facing runtime API of fbsdk.
//
// Side of the boundary: host runtime. Host programs and tests include this
// and link fbsdk::runtime; plug-ins never do (fbsdk::fbsdk does not expose it).
#pragma once

#include "fbhost/clock.h"
#include "fbhost/components.h"
#include "fbhost/config.h"
#include "fbhost/devices.h"
#include "fbhost/engine.h"
#include "fbhost/fieldstore.h"
#include "fbhost/idle.h"
#include "fbhost/messages.h"
#include "fbhost/panel.h"
#include "fbhost/plugins.h"
#include "fbhost/progress.h"
#include "fbhost/registry.h"
#include "fbhost/scene.h"
#include "fbhost/scenefile.h"
