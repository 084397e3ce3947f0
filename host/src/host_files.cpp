#include "host_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#include <process.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "fbhost/config.h"

namespace fbhost_internal {
namespace {

struct FileState {
  std::mutex lock;
  std::string folder;  // empty: the default
  fbhost::BeforeRenameHook hook;
  std::map<std::string, std::unique_ptr<std::mutex>> pathLocks;
  std::atomic<unsigned> temporaryCounter{0};
  std::atomic<bool> flush{true};
};

FileState& State() {
  // Never destroyed: plug-in statics may write settings during exit.
  static FileState* state = new FileState;
  return *state;
}

std::string SystemError(int code) { return std::strerror(code); }

// The few calls that differ on Windows. Files are opened in binary mode
// there, so that what is written is read back byte for byte.
#if defined(_WIN32)
constexpr int kNoInherit = O_NOINHERIT | O_BINARY;

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

int MakeFolder(const std::string& folder) { return ::_mkdir(folder.c_str()); }
int FlushFile(int fd) { return ::_commit(fd); }
int LinkStat(const std::string& path, struct stat* info) { return ::stat(path.c_str(), info); }

// rename() refuses to replace an existing file on Windows.
int MoveOver(const std::string& from, const std::string& to) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return -1;
}

// MOVEFILE_WRITE_THROUGH made the rename durable already.
void FlushFolder(const std::string&) {}

void LockWholeFile(int fd) {
  OVERLAPPED whole{};
  LockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD,
             MAXDWORD, &whole);
}
#else
constexpr int kNoInherit = O_CLOEXEC;

int MakeFolder(const std::string& folder) { return ::mkdir(folder.c_str(), 0755); }
int FlushFile(int fd) { return ::fsync(fd); }
int LinkStat(const std::string& path, struct stat* info) { return ::lstat(path.c_str(), info); }
int MoveOver(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}

void FlushFolder(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void LockWholeFile(int fd) {
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}
#endif

std::string DefaultFolder() {
#if defined(_WIN32)
  const char* appData = std::getenv("APPDATA");
  if (appData != nullptr && appData[0] != '\0') {
    std::string folder = appData;
    for (char& c : folder) {
      if (c == '\\') c = '/';
    }
    return folder + "/orbel-host";
  }
#endif
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/orbel-host";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/orbel-host";
  return "orbel-host-config";
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkdir -p; answers false with errno set by the failing call.
bool MakeFolders(const std::string& folder) {
  if (folder.empty() || folder == "." || folder == "/") return true;
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  const auto slash = folder.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
    return false;
  }
  return MakeFolder(folder) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& contents) {
  const char* data = contents.data();
  std::size_t left = contents.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat info {};
  return LinkStat(path, &info) == 0;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

ReadStatus ReadWholeFile(const std::string& path, std::size_t limit, std::string* contents,
                         std::string* error) {
  contents->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | kNoInherit);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ReadStatus::Missing;
    *error = "cannot open '" + path + "': " + SystemError(errno);
    return ReadStatus::Failed;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    *error = "'" + path + "' is not a regular file";
    return ReadStatus::Failed;
  }
  if (static_cast<unsigned long long>(info.st_size) > limit) {
    ::close(fd);
    *error = "'" + path + "' is " + std::to_string(info.st_size) + " bytes, more than the " +
             std::to_string(limit) + " this host reads";
    return ReadStatus::TooLarge;
  }
  // One allocation for a big file rather than a copy at every doubling.
  contents->reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = "cannot read '" + path + "': " + SystemError(errno);
      ::close(fd);
      contents->clear();
      return ReadStatus::Failed;
    }
    if (n == 0) break;
    contents->append(buffer, static_cast<std::size_t>(n));
    // The file may grow while we read it.
    if (contents->size() > limit) {
      ::close(fd);
      contents->clear();
      *error = "'" + path + "' grew past the " + std::to_string(limit) + " bytes this host reads";
      return ReadStatus::TooLarge;
    }
  }
  ::close(fd);
  return ReadStatus::Ok;
}

bool WriteFileSafely(const std::string& path, const std::string& contents, std::string* error) {
  auto& state = State();
  const std::string folder = FolderOf(path);
  if (!MakeFolders(folder)) {
    *error = "cannot make the folder '" + folder + "': " + SystemError(errno);
    return false;
  }
  const std::string temporary = folder + "/." + FileNameOf(path) + ".tmp-" +
                                std::to_string(::getpid()) + "-" +
                                std::to_string(state.temporaryCounter.fetch_add(1));
  // Keep the permissions of the file being replaced; a new file gets 0644.
  mode_t mode = 0644;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | kNoInherit, mode);
  // Messages name the file the caller asked for; the temporary name beside
  // it means nothing to a user.
  if (fd < 0) {
    *error = "cannot write '" + path + "': " + SystemError(errno);
    return false;
  }
  const bool flush = state.flush.load();
  if (!WriteAll(fd, contents) || (flush && FlushFile(fd) != 0)) {
    const int code = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    *error = "cannot write '" + path + "': " + SystemError(code);
    return false;
  }
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    *error = "cannot write '" + path + "': " + SystemError(code);
    return false;
  }
  fbhost::BeforeRenameHook hook;
  {
    std::lock_guard<std::mutex> lock(state.lock);
    hook = state.hook;
  }
  if (hook && !hook(temporary, path)) {
    *error = "the write of '" + path + "' was interrupted before its rename";
    return false;
  }
  if (MoveOver(temporary, path) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    *error = "cannot replace '" + path + "': " + SystemError(code);
    return false;
  }
  // Make the rename itself durable.
  if (flush) FlushFolder(folder);
  return true;
}

std::mutex& PathLock(const std::string& path) {
  auto& state = State();
  std::lock_guard<std::mutex> lock(state.lock);
  auto& slot = state.pathLocks[path];
  if (!slot) slot = std::make_unique<std::mutex>();
  return *slot;
}

FileLock::FileLock(const std::string& path) {
  const std::string folder = FolderOf(path);
  if (!MakeFolders(folder)) return;
  const std::string lockPath = folder + "/." + FileNameOf(path) + ".lock";
  mFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | kNoInherit, 0644);
  if (mFd < 0) return;
  LockWholeFile(mFd);
}

FileLock::~FileLock() {
  if (mFd >= 0) ::close(mFd);  // closing releases the lock
}

}  // namespace fbhost_internal

namespace fbhost {

std::string ConfigFolder() {
  auto& state = fbhost_internal::State();
  std::lock_guard<std::mutex> lock(state.lock);
  return state.folder.empty() ? fbhost_internal::DefaultFolder() : state.folder;
}

void SetConfigFolder(const std::string& folder) {
  auto& state = fbhost_internal::State();
  std::lock_guard<std::mutex> lock(state.lock);
  state.folder = folder;
  while (state.folder.size() > 1 && state.folder.back() == '/') state.folder.pop_back();
}

bool ResolveConfigName(const std::string& name, std::string* path, std::string* error) {
  if (name.empty()) {
    *error = "a configuration file needs a name";
    return false;
  }
  if (name[0] != '@') {
    *path = name;
    return true;
  }
  const std::string file = name.substr(1);
  if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos) {
    *error = "configuration name '" + name + "' is not a plain file name after '@'";
    return false;
  }
  *path = ConfigFolder() + "/" + file;
  return true;
}

void SetFlushToDisk(bool on) { fbhost_internal::State().flush.store(on); }

void SetBeforeRenameHook(BeforeRenameHook hook) {
  auto& state = fbhost_internal::State();
  std::lock_guard<std::mutex> lock(state.lock);
  state.hook = std::move(hook);
}

}  // namespace fbhost
