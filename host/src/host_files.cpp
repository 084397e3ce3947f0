#include "host_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string DefaultFolder() {
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
  return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
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
  return ::lstat(path.c_str(), &info) == 0;
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = "cannot create '" + temporary + "': " + SystemError(errno);
    return false;
  }
  const bool flush = state.flush.load();
  if (!WriteAll(fd, contents) || (flush && ::fsync(fd) != 0)) {
    const int code = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    *error = "cannot write '" + temporary + "': " + SystemError(code);
    return false;
  }
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    *error = "cannot write '" + temporary + "': " + SystemError(code);
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
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    *error = "cannot replace '" + path + "': " + SystemError(code);
    return false;
  }
  // Make the rename itself durable.
  const int dir = flush ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
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
  mFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (mFd < 0) return;
  while (::flock(mFd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FileLock::~FileLock() {
  if (mFd >= 0) ::close(mFd);  // closing releases the flock
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
