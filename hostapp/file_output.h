// Writing the host program's output files (exports, dumps) so that a
// failed or interrupted write never leaves half a file where a good one
// was: the text goes to a temporary file beside the target, is flushed to
// disk, and is renamed over the target. Missing folders are made.
#pragma once

#include <string>

namespace orbel::hostapp {

// False with *error quoting the path when any step fails; the old file (if
// any) is then untouched and the temporary file removed.
bool WriteTextFile(const std::string& path, const std::string& text, std::string* error);

// Reads a whole file of at most `limit` bytes; false with *error quoting
// the path when it is missing, unreadable or larger.
bool ReadTextFile(const std::string& path, std::size_t limit, std::string* text,
                  std::string* error);

// Makes a folder and its parents (mkdir -p); answers 0, or the errno of the
// step that failed (ENOTDIR when a file stands in the way).
int MakeFolders(const std::string& folder);

}  // namespace orbel::hostapp
