#include "tests/support/free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/file_descriptor.h"

namespace callsink::test {

int FreePort() {
  FileDescriptor socket_fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (!socket_fd.valid() ||
      bind(socket_fd.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      getsockname(socket_fd.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

}  // namespace callsink::test
