// fbhost/scenefile.h: saving the scene to a file and loading it back.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. UI thread.
//
// The file is text, described in host/SCENE_FORMAT.md: the scene's models
// (class, label name, parent, show flag, colour, shading mode, local
// translation and rotation), every device with the fields it stored and
// the models its templates are bound to, and every take (span, layers, the
// models it recorded, its curves with every key, bit for bit). Big takes
// show their progress (FBProgress) while they are written or read.
//
// Save: every device of the scene (fbhost/devices.h) is asked to store
// itself: FbxStore(store, phase) for the phases kFbxStoreAttributes,
// kFbxStoreFields and kFbxStoreCleanup in that order, with the object
// status kFBStatusStoring set, into one field store per device. The file is
// then written safely (fbhost/config.h): a failed or interrupted save leaves
// the old file as it was.
//
// Load: the whole file is read and checked first. A file that is missing,
// not a scene file, truncated, holds a value of the wrong kind or a count
// that does not match, names an unknown model class, or a device class that
// no plug-in registered in "FbxStorable/Device", is refused with an error
// that names the file and the line and quotes what was found, and the scene
// is left exactly as it was. Otherwise the current scene is emptied
// (fbhost::ResetScene; open panels of its devices are closed first), the
// models are made in file order with their parents and properties, the
// file's takes replace the scene's (a file without takes leaves the fresh
// "Take 001"), and then each device, in file order, is recreated through
// its "FbxStorable/Device" factory (with its stored name), added to the
// scene, handed its fields through FbxRetrieve(store, phase) for the same
// three phases with the status kFBStatusRetrieving set, initialised
// (kFBDeviceInitialize, status kFBStatusCreating), and its templates bound
// again to the loaded models they were bound to (Model set, no bind
// notification). So a device that restores a binding by label name finds
// the scene's models already there, and a later bind reuses them.
#pragma once

#include <string>

#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// Writes the scene to `path`. False with *error when the file cannot be
// written. A device without a registered class name cannot be recreated,
// so it is left out (and reported on the message channel).
FBSDK_API bool SaveScene(const std::string& path, std::string* error = nullptr);

// Replaces the scene with the one in `path`. False with *error, the scene
// untouched, when the file is refused (see above). Once the file is
// accepted the scene is rebuilt; a device whose factory then makes nothing
// is left out and the answer is false with *error naming it, the rest of
// the scene being loaded.
FBSDK_API bool LoadScene(const std::string& path, std::string* error = nullptr);

// Reads and checks a scene file as LoadScene does, changing nothing. True
// when LoadScene would accept it.
FBSDK_API bool CheckSceneFile(const std::string& path, std::string* error = nullptr);

}  // namespace fbhost
