#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <utility>

namespace callsink {

FolderLock::Result FolderLock::Lock(const std::string& folder) {
  if (held()) return Result::kLocked;
  // Read access is all flock needs, so the lock works on a read-only mount.
  FileDescriptor opened(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid()) return errno == ENOENT ? Result::kNoFolder : Result::kFailed;
  int locked;
  do {
    locked = flock(opened.get(), LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return errno == EWOULDBLOCK ? Result::kHeldByOther : Result::kFailed;
  folder_ = std::move(opened);
  return Result::kLocked;
}

}  // namespace callsink
