// fbhost/config.h: where the host keeps its configuration files, and the
// write path every host file (settings, scenes) goes through.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. Thread-safe.
//
// Configuration folder. A settings file named "@Name.txt" (FBConfigFile)
// lives in this folder. The default is $XDG_CONFIG_HOME/orbel-host when
// XDG_CONFIG_HOME is an absolute path, else $HOME/.config/orbel-host, else
// ./orbel-host-config. A host program may choose another folder at start-up
// (orbel-host --config-dir), tests use a temporary one. The folder is made,
// with its parents, at the first write. An FBConfigFile resolves its name
// when it is constructed: changing the folder later does not move files that
// are already open.
//
// Safe writes. The host never rewrites a file in place: it writes the new
// contents to a temporary file in the same folder (".<name>.tmp-<pid>-<n>"),
// flushes it to disk (fsync), renames it over the file and flushes the folder.
// A crash at any point leaves either the old file or the new one, never a
// truncated one; a crash before the rename may leave the temporary file
// behind, which nothing reads. A read-modify-write of a settings file also
// holds an advisory lock on ".<name>.lock" beside it, so that host processes
// sharing the folder take turns.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// The configuration folder in force.
FBSDK_API std::string ConfigFolder();
// Sets the configuration folder; an empty text restores the default.
FBSDK_API void SetConfigFolder(const std::string& folder);

// The file a configuration name stands for: "@Name" is Name in the
// configuration folder; any other name is a path used as given. Answers false
// (with a message quoting the name) for an empty name, or an "@" name that is
// not a plain file name (empty, ".", "..", or containing '/').
FBSDK_API bool ResolveConfigName(const std::string& name, std::string* path, std::string* error);

// Writes a whole file the safe way (see above), for host files written from
// outside this library (panel pictures); false with *error quoting the path.
FBSDK_API bool WriteFileSafely(const std::string& path, const std::string& contents,
                               std::string* error);

// One setting of a configuration file, as FBConfigFile::Get answers it.
struct ConfigSetting {
  std::string section;
  std::string key;
  std::string value;
};
// Every setting of the configuration file `name` ("@Name" or a path), in
// file order (a key given twice in a section once, with the value that
// counts), for a host program that shows a settings file. A missing file
// answers true and no settings. Lines that fit no item of the format are
// skipped; *problems (when given) then describes them, quoting the file and
// the lines, and is emptied otherwise. False, with *error quoting the name
// or the file, for an invalid name or a file that cannot be read.
FBSDK_API bool ReadConfigSettings(const std::string& name, std::vector<ConfigSetting>* settings,
                                  std::string* error, std::string* problems = nullptr);

// Test seam for the safe write: called after the temporary file is complete
// and flushed, before the rename. Answering false stops the write there, as a
// crash would (the temporary file stays, the old file is untouched, and the
// write reports failure). An empty function removes the hook.
// Whether safe writes flush to disk (fsync of the file and its folder).
// Default: on. Turning it off keeps every write whole against a crash of
// the process (the rename still replaces the file in one step) but not
// against a power cut; for scratch folders and test suites.
FBSDK_API void SetFlushToDisk(bool on);

using BeforeRenameHook =
    std::function<bool(const std::string& temporaryPath, const std::string& finalPath)>;
FBSDK_API void SetBeforeRenameHook(BeforeRenameHook hook);

}  // namespace fbhost
