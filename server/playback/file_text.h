// Reading a whole scene or recording into memory, bounded so that a huge or
// endless file (a device, a pipe) cannot make the server allocate without
// limit.
#pragma once

#include <cstddef>
#include <string>

namespace orbel::server::playback {

// Reads the file at path into text. On failure answers false and sets error
// to a message that names the file and what is wrong.
bool readFileText(const std::string& path, std::size_t maxBytes, std::string& text,
                  std::string& error);

}  // namespace orbel::server::playback
