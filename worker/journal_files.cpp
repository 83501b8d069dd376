#include "worker/journal_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_descriptor.h"

namespace callsink {

JournalFiles& JournalFiles::System() {
  static JournalFiles files;
  return files;
}

int JournalFiles::Open(const std::string& path, int flags, mode_t mode) {
  return open(path.c_str(), flags | O_CLOEXEC, mode);
}

bool JournalFiles::WriteAt(int fd, std::span<const uint8_t> bytes, uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(written));
    offset += static_cast<uint64_t>(written);
  }
  return true;
}

bool JournalFiles::Sync(int fd) { return fdatasync(fd) == 0; }

bool JournalFiles::Truncate(int fd, uint64_t size) {
  return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool JournalFiles::SyncFolder(const std::string& folder) {
  const FileDescriptor directory(Open(folder, O_RDONLY | O_DIRECTORY, 0));
  return directory.valid() && fsync(directory.get()) == 0;
}

bool JournalFiles::Remove(const std::string& path) { return unlink(path.c_str()) == 0; }

}  // namespace callsink
