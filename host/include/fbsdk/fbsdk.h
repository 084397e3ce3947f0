// fbsdk.h: the whole host SDK surface a plug-in sees.
//
// Side of the boundary: SDK. Plug-ins include this (or the single headers) and
// link fbsdk::fbsdk. Host programs add <fbhost/fbhost.h> (fbsdk::runtime).
#pragma once

#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbstring.h"
#include "fbsdk/fbtime.h"
#include "fbsdk/fbtimecode.h"
#include "fbsdk/fbvector.h"
#include "fbsdk/fbrotation.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbplug.h"
#include "fbsdk/fbcomponent.h"
#include "fbsdk/fblibrary.h"
#include "fbsdk/fbregistry.h"
#include "fbsdk/fbsystem.h"
#include "fbsdk/fbprogress.h"
#include "fbsdk/fbarray.h"
#include "fbsdk/fblist.h"
#include "fbsdk/fbanimation.h"
#include "fbsdk/fbmodel.h"
#include "fbsdk/fbmodeltemplate.h"
#include "fbsdk/fbscene.h"
#include "fbsdk/fbtake.h"
#include "fbsdk/fbplayercontrol.h"
#include "fbsdk/fbreferencetime.h"
#include "fbsdk/fbfbxstore_fwd.h"
#include "fbsdk/fbdevice.h"
