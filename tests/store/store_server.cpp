#include "tests/store/store_server.h"

#include <memory>

namespace callsink::test {
namespace {

std::unique_ptr<MariaDbServer> server;

// Registered while the program loads: the server must run, and the client
// library must know it, before any test touches the library.
::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new StoreServer);

}  // namespace

void StoreServer::SetUp() {
  server = std::make_unique<MariaDbServer>();
  // As options, the general log survives a restart of the server.
  if (server->Start({"--general-log=1", "--log-output=TABLE"})) {
    server->env()->ExportToClientLibrary();
  }
}

void StoreServer::TearDown() { server.reset(); }

MariaDbServer& StoreServer::Get() { return *server; }

}  // namespace callsink::test
