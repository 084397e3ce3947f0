#include "file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#include <process.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orbel::hostapp {

namespace {

std::string Why(int error) { return std::strerror(error); }

#if defined(_WIN32)
// Windows takes either slash; a drive ("C:") is no folder to make.
constexpr const char* kSlashes = "/\\";
bool IsRoot(const std::string& folder) { return !folder.empty() && folder.back() == ':'; }
int MakeFolder(const std::string& folder) { return _mkdir(folder.c_str()); }
// Binary: the bytes written are the bytes given, line ends included.
constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_TRUNC | O_BINARY | O_NOINHERIT;
int Flush(int fd) { return _commit(fd); }
// rename() does not replace a file on Windows.
int Replace(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return -1;
}
#else
constexpr const char* kSlashes = "/";
bool IsRoot(const std::string&) { return false; }
int MakeFolder(const std::string& folder) { return mkdir(folder.c_str(), 0777); }
constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
int Flush(int fd) { return fsync(fd); }
int Replace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str());
}
#endif

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(kSlashes);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int MakeFolders(const std::string& folder) {
  std::string partial;
  std::size_t at = 0;
  while (at != std::string::npos) {
    at = folder.find_first_of(kSlashes, at + 1);
    partial = folder.substr(0, at);
    if (partial.empty() || partial == "." || IsRoot(partial)) continue;
    if (MakeFolder(partial) != 0 && errno != EEXIST) return errno;
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
  if (std::strchr(kSlashes, path.back()) != nullptr) return fail("it names a folder");
  const std::string folder = FolderOf(path);
  if (const int made = MakeFolders(folder); made != 0) {
    return fail("folder '" + folder + "': " + Why(made));
  }
  const std::string temporary = path + ".tmp-" + std::to_string(getpid());
  const int fd = open(temporary.c_str(), kWriteFlags, 0666);
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
  if (Flush(fd) != 0 || close(fd) != 0) {
    const int saved = errno;
    unlink(temporary.c_str());
    return fail(Why(saved));
  }
  if (Replace(temporary, path) != 0) {
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
