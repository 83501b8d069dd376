#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace callsink {

// The journal's calls on its files, in one place, so that a test can make
// any of them fail as a disk does (a short write, a failed sync, a file
// that cannot be made). This class makes the real calls; a test derives
// from it and overrides what should fail. Each call returns false (or -1)
// with errno set on failure. Any thread.
class JournalFiles {
 public:
  // The real calls.
  static JournalFiles& System();

  virtual ~JournalFiles() = default;

  // open(2): a file descriptor, or -1.
  virtual int Open(const std::string& path, int flags, mode_t mode);
  // Writes all of `bytes` at `offset`, retrying short writes.
  virtual bool WriteAt(int fd, std::span<const uint8_t> bytes, uint64_t offset);
  // fdatasync(2).
  virtual bool Sync(int fd);
  // ftruncate(2).
  virtual bool Truncate(int fd, uint64_t size);
  // fsync(2) of a folder, which makes the names of new files in it last.
  virtual bool SyncFolder(const std::string& folder);
  // unlink(2).
  virtual bool Remove(const std::string& path);
};

}  // namespace callsink
