// callsinkboard behind a web configuration file, as the collector's
// endpoint: TLS with the test's own certificates and a bcrypt password. The
// board answers only over TLS and only with the password; it serves while
// its database is away.
#include <crypt.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_certificates.h"

namespace callsink::test {
namespace {

std::string Bcrypt(const std::string& password) {
  auto data = std::make_unique<crypt_data>();
  const char* salt = crypt_gensalt_rn("$2b$", 4, nullptr, 0, data->setting, sizeof data->setting);
  return salt == nullptr ? "" : crypt_r(password.c_str(), salt, data.get());
}

TEST(BoardWebTest, TheBoardAnswersOnlyOverTlsAndWithThePassword) {
  TestCertificates certificates;
  ASSERT_TRUE(certificates.Make());
  TempDir dir;
  TempDir::WriteFile(dir / "web.yml",
                     "tls_server_config:\n  cert_file: " + certificates / "server.pem" +
                         "\n  key_file: " + certificates / "server.key" +
                         "\nbasic_auth_users:\n  supervisor: " + Bcrypt("floor-3") + "\n");
  TempDir::WriteFile(dir / "password", "unused\n");
  const int port = FreePort();
  ASSERT_NE(port, 0);
  // Nothing listens on port 1: the board serves what it has, no figures.
  ChildProcess board(std::string(std::getenv("CALLSINK_BIN")) + "/callsinkboard",
                     {"--config", "/dev/null", "--listen", "127.0.0.1:" + std::to_string(port),
                      "--database", "127.0.0.1:1", "--user", "board", "--password-file",
                      dir / "password", "--web-config", dir / "web.yml"},
                     {}, {}, dir / "board.log");
  const auto get = [&](bool tls, const char* user, const char* password, const char* path) {
    std::unique_ptr<httplib::ClientImpl> client;
    if (tls) {
      auto https = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
      https->set_ca_cert_path((certificates / "ca.pem").c_str());
      https->enable_server_certificate_verification(true);
      client = std::move(https);
    } else {
      client = std::make_unique<httplib::ClientImpl>("127.0.0.1", port);
    }
    client->set_connection_timeout(2);
    if (user != nullptr) client->set_basic_auth(user, password);
    const auto answer = client->Get(path);
    return answer ? answer->status : 0;
  };
  ASSERT_TRUE(WaitUntil(10000, [&] { return get(true, "supervisor", "floor-3", "/") == 200; }))
      << TempDir::ReadFile(dir / "board.log");
  const struct {
    bool tls;
    const char* user;
    const char* password;
    const char* path;
    int status;  // 0: no answer
  } cases[] = {
      {true, "supervisor", "floor-3", "/api/board", 200},
      {true, "supervisor", "floor-3", "/board.js", 200},
      {true, nullptr, nullptr, "/api/board", 401},
      {true, "supervisor", "floor-4", "/", 401},
      {true, "someone", "floor-3", "/api/board", 401},
      {false, "supervisor", "floor-3", "/api/board", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(get(c.tls, c.user, c.password, c.path), c.status)
        << c.path << (c.tls ? " over TLS as " : " in clear as ") << (c.user ? c.user : "nobody");
  }
  EXPECT_TRUE(board.Running()) << TempDir::ReadFile(dir / "board.log");
}

}  // namespace
}  // namespace callsink::test
