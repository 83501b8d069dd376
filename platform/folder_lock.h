#pragma once

#include <string>

#include "platform/file_descriptor.h"

namespace callsink {

// An exclusive lock on a folder (flock on the folder itself), held while the
// object holds it: by this process alone among all processes that ask for
// the same folder's lock, released when the object goes away or the process
// ends, however it ends. A lock of its own kind: record locks on files in the
// folder (SQLite's, the service's pid file) are neither taken nor disturbed.
//
// Used by one thread at a time.
class FolderLock {
 public:
  enum class Result {
    kLocked,       // this object holds the lock now
    kHeldByOther,  // another process (or another object) holds it
    kNoFolder,     // the folder does not exist
    kFailed,       // the folder could not be opened or locked; errno says why
  };

  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock on `folder` without waiting. kLocked at once when this
  // object holds a lock already.
  Result Lock(const std::string& folder);
  bool held() const { return folder_.valid(); }

 private:
  FileDescriptor folder_;
};

}  // namespace callsink
