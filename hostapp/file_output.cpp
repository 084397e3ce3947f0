#include "file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orbel::hostapp {

namespace {

std::string Why(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int MakeFolders(const std::string& folder) {
  std::string partial;
  std::size_t at = 0;
  while (at != std::string::npos) {
    at = folder.find('/', at + 1);
    partial = folder.substr(0, at);
    if (partial.empty() || partial == ".") continue;
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  }
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) return errno;
  return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = "cannot write '" + path + "': " + why;
    return false;
  };
  if (path.empty()) return fail("no file name");
  if (path.back() == '/') return fail("it names a folder");
  const std::string folder = FolderOf(path);
  if (const int made = MakeFolders(folder); made != 0) {
    return fail("folder '" + folder + "': " + Why(made));
  }
  const std::string temporary = path + ".tmp-" + std::to_string(getpid());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return fail(Why(errno));
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      close(fd);
      unlink(temporary.c_str());
      return fail(Why(saved));
    }
    written += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    const int saved = errno;
    unlink(temporary.c_str());
    return fail(Why(saved));
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    unlink(temporary.c_str());
    return fail(Why(saved));
  }
  return true;
}

bool ReadTextFile(const std::string& path, std::size_t limit, std::string* text,
                  std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = "cannot read '" + path + "': " + why;
    return false;
  };
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return fail(Why(errno));
  if (S_ISDIR(info.st_mode)) return fail("it is a folder");
  if (static_cast<std::size_t>(info.st_size) > limit) {
    return fail("larger than " + std::to_string(limit) + " bytes");
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return fail(Why(errno));
  text->clear();
  char buffer[1 << 14];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text->append(buffer, n);
    if (text->size() > limit) {
      std::fclose(file);
      return fail("larger than " + std::to_string(limit) + " bytes");
    }
  }
  const bool bad = std::ferror(file) != 0;
  std::fclose(file);
  return bad ? fail("read error") : true;
}

}  // namespace orbel::hostapp
