#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace callsink::test {

// Descriptors opened after a descriptor was closed take its number; a second
// close of that number would end one of them. AllOpen tells.
struct Bystanders {
  Bystanders() {
    for (int i = 0; i < 8; ++i) fds.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
  }
  ~Bystanders() {
    for (int fd : fds) close(fd);
  }
  Bystanders(const Bystanders&) = delete;
  Bystanders& operator=(const Bystanders&) = delete;

  bool AllOpen() const {
    for (int fd : fds) {
      if (fcntl(fd, F_GETFD) < 0) return false;
    }
    return true;
  }
  std::vector<int> fds;
};

}  // namespace callsink::test
