// host_files.h: reading and safely writing the host's own files.
//
// Private to libfbsdk. See fbhost/config.h for the safe-write contract.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace fbhost_internal {

enum class ReadStatus {
  Ok,
  Missing,   // no such file (or a folder on the way is missing)
  TooLarge,  // larger than the limit; nothing read
  Failed,    // exists but cannot be read (a folder, no permission, I/O error)
};

// Reads a whole file of at most `limit` bytes. On Failed and TooLarge, *error
// says why, quoting the path.
ReadStatus ReadWholeFile(const std::string& path, std::size_t limit, std::string* contents,
                         std::string* error);

// Writes `contents` to `path` through a flushed temporary file and a rename,
// making the folder first when missing. Answers false with *error quoting the
// path when any step fails; the old file is then untouched.
bool WriteFileSafely(const std::string& path, const std::string& contents, std::string* error);

// Whether anything (file, folder, link) exists at the path.
bool PathExists(const std::string& path);

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);

// A process-wide lock per file path, held by read-modify-write cycles.
std::mutex& PathLock(const std::string& path);

// Takes an advisory lock (flock) on "<folder>/.<file>.lock" for as long as it
// lives, so that host processes sharing a file do not interleave their
// read-modify-write cycles. Best effort: when the lock file cannot be made,
// the cycle runs without it (the rename keeps every write whole anyway).
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

 private:
  int mFd = -1;
};

}  // namespace fbhost_internal
