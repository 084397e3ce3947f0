#include "file_text.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace orbel::server::playback {

namespace {
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

bool readFileText(const std::string& path, std::size_t maxBytes, std::string& text,
                  std::string& error) {
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = path + ": cannot open: " + std::generic_category().message(errno);
    return false;
  }
  text.clear();
  // Read in chunks rather than trusting a size from stat: the path may name
  // something whose size is unknown or changes while we read.
  char chunk[64 * 1024];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (got > 0) {
      if (text.size() + got > maxBytes) {
        error = path + ": larger than the limit of " + std::to_string(maxBytes) + " bytes";
        text.clear();
        return false;
      }
      text.append(chunk, got);
    }
    if (got < sizeof chunk) {
      if (std::ferror(file.get())) {
        error = path + ": cannot read: " + std::generic_category().message(errno);
        text.clear();
        return false;
      }
      return true;
    }
  }
}

}  // namespace orbel::server::playback
