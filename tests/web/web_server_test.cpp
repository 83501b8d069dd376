#include <crypt.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <httplib.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "health/metrics_client.h"
#include "tests/support/child_process.h"
#include "tests/support/mariadb_env.h"
#include "tests/support/test_certificates.h"
#include "web/basic_auth.h"
#include "web/web_server.h"

namespace callsink::test {
namespace {

using ::testing::HasSubstr;

constexpr char kPassword[] = "scrape-me";

// A bcrypt hash of `password` made by the system's crypt library, at the
// lowest cost so that tests stay quick.
std::string Bcrypt(const std::string& password) {
  auto data = std::make_unique<crypt_data>();
  const char* salt = crypt_gensalt_rn("$2b$", 4, nullptr, 0, data->setting, sizeof data->setting);
  return salt == nullptr ? "" : crypt_r(password.c_str(), salt, data.get());
}

// What a client brings to the endpoint.
struct Client {
  bool tls = true;
  const char* ca = "ca.pem";     // the file it trusts
  const char* certificate = "";  // "client" or "foreign": its certificate and key
  const char* user = "";         // "": no Authorization header
  const char* password = kPassword;
};

struct EndpointCase {
  const char* name;
  const char* config;  // the file's text; FILE(x) stands for the certificates' file x
  Client client;
  int status;  // 0: no answer at all
};

void PrintTo(const EndpointCase& c, std::ostream* out) { *out << c.name; }

// Serves a small site from a WebServer on a free port of 127.0.0.1, with a
// web configuration file in a folder beside fresh certificates.
class WebServerTest : public ::testing::TestWithParam<EndpointCase> {
 protected:
  static void SetUpTestSuite() {
    certificates_ = new TestCertificates;
    ASSERT_TRUE(certificates_->Make());
    hash_ = Bcrypt(kPassword);
    ASSERT_THAT(hash_, ::testing::StartsWith("$2b$04$"));
  }
  static void TearDownTestSuite() { delete certificates_; }

  // `text` with FILE(x) replaced by the certificates' file x and HASH by the
  // password's bcrypt hash.
  static std::string Expanded(std::string text) {
    for (size_t at; (at = text.find("FILE(")) != std::string::npos;) {
      const size_t end = text.find(')', at);
      text.replace(at, end + 1 - at, *certificates_ / text.substr(at + 5, end - at - 5));
    }
    if (const size_t at = text.find("HASH"); at != std::string::npos) text.replace(at, 4, hash_);
    return text;
  }

  void WriteConfig(const std::string& text) {
    std::ofstream(config_file_ + ".new") << Expanded(text);
    std::filesystem::rename(config_file_ + ".new", config_file_);
  }

  bool StartServer(const std::string& text, std::string* error) {
    WriteConfig(text);
    server_ = std::make_unique<WebServer>(
        WebSite{"testsite",
                "1.2.3",
                {{"/metrics", "Metrics", "text/plain", [] { return "up 1\n"; }, {}}}},
        config_file_,
        [this](const std::string& line) {
          const std::lock_guard<std::mutex> lock(mutex_);
          lines_.push_back(line);
        },
        50);
    return server_->Start("127.0.0.1", 0, error);
  }

  // The answer's status to GET `path` (0: none) and its body in `body`.
  int Get(const Client& client, const std::string& path = "/metrics", std::string* body = nullptr) {
    std::unique_ptr<httplib::ClientImpl> http;
    if (!client.tls) {
      http = std::make_unique<httplib::ClientImpl>("127.0.0.1", server_->port());
    } else {
      const std::string name = client.certificate;
      auto https = name.empty()
                       ? std::make_unique<httplib::SSLClient>("127.0.0.1", server_->port())
                       : std::make_unique<httplib::SSLClient>("127.0.0.1", server_->port(),
                                                              *certificates_ / (name + ".pem"),
                                                              *certificates_ / (name + ".key"));
      https->set_ca_cert_path((*certificates_ / client.ca).c_str());
      https->enable_server_certificate_verification(true);
      http = std::move(https);
    }
    http->set_connection_timeout(5);
    http->set_read_timeout(5);
    if (*client.user != '\0') http->set_basic_auth(client.user, client.password);
    const httplib::Result result = http->Get(path.c_str());
    if (!result) return 0;
    if (body != nullptr) *body = result->body;
    return result->status;
  }

  std::vector<std::string> Lines() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  static TestCertificates* certificates_;
  static std::string hash_;
  TempDir folder_;
  const std::string config_file_ = folder_ / "web.yml";
  std::unique_ptr<WebServer> server_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TestCertificates* WebServerTest::certificates_ = nullptr;
std::string WebServerTest::hash_;

constexpr char kTls[] =
    "tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n";
constexpr char kTlsWithUsers[] =
    "tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
    "basic_auth_users:\n  prometheus: HASH\n";
constexpr char kClientCertificates[] =
    "tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
    "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: FILE(ca.pem)\n";

const EndpointCase kCases[] = {
    {"EmptyFileServesPlainHttp", "", {.tls = false}, 200},
    {"PlainHttpIsRefusedWhereTlsIsSet", kTls, {.tls = false}, 0},
    {"TlsWithoutPassword", kTls, {}, 200},
    {"TlsIsRefusedByAClientTrustingAnotherCa", kTls, {.ca = "other-ca.pem"}, 0},
    {"RightPassword", kTlsWithUsers, {.user = "prometheus"}, 200},
    {"WrongPassword", kTlsWithUsers, {.user = "prometheus", .password = "guess"}, 401},
    {"NoPassword", kTlsWithUsers, {}, 401},
    {"UnknownUser", kTlsWithUsers, {.user = "mallory"}, 401},
    {"PasswordOverPlainHttp",
     "basic_auth_users:\n  prometheus: HASH\n",
     {.tls = false, .user = "prometheus"},
     200},
    {"ClientCertificateWhereRequired", kClientCertificates, {.certificate = "client"}, 200},
    {"NoClientCertificateWhereRequired", kClientCertificates, {}, 0},
    {"ClientCertificatesVerifiedByTheSystemStore",
     "tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
     "  client_auth_type: RequireAndVerifyClientCert\n",
     {.certificate = "client"},
     0},
    {"ForeignClientCertificate", kClientCertificates, {.certificate = "foreign"}, 0},
    {"AnyClientCertificateWhereOnlyOneIsAskedFor",
     "tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
     "  client_auth_type: RequireAnyClientCert\n",
     {.certificate = "foreign"},
     200},
};

TEST_P(WebServerTest, AnswersOnlyWhomTheFileAllows) {
  const EndpointCase& c = GetParam();
  std::string error;
  ASSERT_TRUE(StartServer(c.config, &error)) << error;
  std::string body;
  EXPECT_EQ(Get(c.client, "/metrics", &body), c.status);
  if (c.status == 200) {
    EXPECT_EQ(body, "up 1\n");
  }
  // The landing page is behind the same door.
  EXPECT_EQ(Get(c.client, "/", &body), c.status);
  if (c.status == 200) {
    EXPECT_THAT(body, HasSubstr("<h1>testsite</h1>"));
    EXPECT_THAT(body, HasSubstr("Version 1.2.3"));
    EXPECT_THAT(body, HasSubstr("<a href=\"/metrics\">Metrics</a>"));
  }
}

INSTANTIATE_TEST_SUITE_P(Clients, WebServerTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

struct BadFile {
  const char* config;
  const char* reason;
};

// What this server takes, the exporters' own checker takes too, and the
// reverse for what it refuses as not valid in the format.
TEST_F(WebServerTest, FilesAreJudgedAsTheExportersToolingJudgesThem) {
  constexpr char kPromtool[] = "/usr/bin/promtool";
  if (!std::filesystem::exists(kPromtool)) {
    if (RunsInCi()) FAIL() << "promtool missing";
    GTEST_SKIP() << "promtool missing (Debian package prometheus)";
  }
  const auto promtool_accepts = [&](const char* config) {
    WriteConfig(config);
    ChildProcess check(kPromtool, {"check", "web-config", config_file_});
    return check.WaitExit(60000) == 0;
  };
  for (const EndpointCase& c : kCases) {
    EXPECT_TRUE(promtool_accepts(c.config)) << c.name;
  }
  for (const char* invalid :
       {"tls_server_config:\n  cert_file: FILE(server.pem)\n",
        "tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
        "  client_ca_file: FILE(ca.pem)\n",
        "basic_auth_user:\n  prometheus: HASH\n"}) {
    EXPECT_FALSE(promtool_accepts(invalid)) << invalid;
    std::string error;
    EXPECT_FALSE(StartServer(invalid, &error)) << invalid;
  }
}

TEST_F(WebServerTest, BadFileKeepsTheEndpointOffAndSaysWhy) {
  const BadFile kBadFiles[] = {
      {"tls_server_config:\n  cert_file: FILE(server.pem)\n", "missing key_file"},
      {"tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(missing.key)\n",
       "key_file "},
      {"tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(client.key)\n",
       "key values mismatch"},
      {"tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
       "  client_ca_file: FILE(ca.pem)\n",
       "client_ca_file is given, but client_auth_type verifies no client certificate"},
      {"tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
       "  cipher_suites: [TLS_AES_128_GCM_SHA256]\n",
       "cipher_suites is not supported"},
      {"tls_server_config:\n  cert_file: FILE(server.pem)\n  key_file: FILE(server.key)\n"
       "  min_version: TLS14\n",
       "min_version \"TLS14\" is none of TLS10"},
      {"basic_auth_users:\n  prometheus: plain-text\n", "is no bcrypt hash"},
      {"basic_auth_user:\n  prometheus: HASH\n", "unknown key the file.basic_auth_user"},
      {"tls_server_config: [\n", "web.yml: "},
  };
  for (const BadFile& bad : kBadFiles) {
    std::string error;
    EXPECT_FALSE(StartServer(bad.config, &error)) << bad.config;
    EXPECT_THAT(error, HasSubstr(bad.reason)) << bad.config;
    EXPECT_EQ(server_->port(), 0);
  }
}

// A renewed certificate is served without a restart; a file spoiled
// meanwhile takes the endpoint off until it is mended.
TEST_F(WebServerTest, ChangedFilesAreFollowed) {
  std::filesystem::copy_file(*certificates_ / "server.pem", folder_ / "live.pem");
  std::filesystem::copy_file(*certificates_ / "server.key", folder_ / "live.key");
  const std::string live = "tls_server_config:\n  cert_file: live.pem\n  key_file: live.key\n";
  std::string error;
  ASSERT_TRUE(StartServer(live, &error)) << error;
  const Client old_ca{}, new_ca{.ca = "other-ca.pem"};
  EXPECT_EQ(Get(old_ca), 200);

  using std::filesystem::copy_options;
  std::filesystem::copy_file(*certificates_ / "foreign.key", folder_ / "live.key",
                             copy_options::overwrite_existing);
  std::filesystem::copy_file(*certificates_ / "foreign.pem", folder_ / "live.pem",
                             copy_options::overwrite_existing);
  EXPECT_TRUE(WaitUntil(20000, [&] { return Get(new_ca) == 200; }));
  EXPECT_EQ(Get(old_ca), 0);

  WriteConfig(live + "  client_auth_type: Sometimes\n");
  EXPECT_TRUE(WaitUntil(20000, [&] { return Get(new_ca) == 0; }));
  WriteConfig(live);
  EXPECT_TRUE(WaitUntil(20000, [&] { return Get(new_ca) == 200; }));
  const std::vector<std::string> lines = Lines();
  EXPECT_THAT(lines, ::testing::Contains(
                         HasSubstr("Web configuration refused, nothing is served: " + config_file_ +
                                   ": client_auth_type \"Sometimes\" is none of NoClientCert")));
  EXPECT_THAT(lines, ::testing::Contains("Web configuration " + config_file_ + " read again"));
}

// The tools' client reaches the endpoint through the same file, and says
// why not where it cannot.
TEST_F(WebServerTest, MetricsClientFetchesThroughTheSameFile) {
  const struct {
    const char* config;
    const char* error;  // nullptr: the page comes
  } kFiles[] = {
      {kTls, nullptr},
      {"", nullptr},
      {kTlsWithUsers, "asks for a password"},
      {kClientCertificates, "requires a client certificate"},
  };
  for (const auto& file : kFiles) {
    std::string error, page;
    ASSERT_TRUE(StartServer(file.config, &error)) << error;
    const bool fetched =
        MetricsClient::Fetch("127.0.0.1", server_->port(), config_file_, &page, &error);
    if (file.error == nullptr) {
      EXPECT_TRUE(fetched) << file.config << error;
      EXPECT_EQ(page, "up 1\n");
    } else {
      EXPECT_FALSE(fetched) << file.config;
      EXPECT_THAT(error, HasSubstr(file.error));
    }
    EXPECT_EQ(MetricsClient::Url("127.0.0.1:1", config_file_),
              std::string(*file.config != '\0' ? "https" : "http") + "://127.0.0.1:1/metrics");
    server_.reset();
  }
}

TEST(BasicAuthTest, RemembersOnlySuccessfulChecks) {
  BasicAuth auth({{"prometheus", Bcrypt(kPassword)}});
  const std::string right = "Basic cHJvbWV0aGV1czpzY3JhcGUtbWU=";  // prometheus:scrape-me
  const std::string wrong = "Basic cHJvbWV0aGV1czpzY3JhcGUtbWY=";  // prometheus:scrape-mf
  EXPECT_FALSE(auth.Allows(wrong));
  EXPECT_TRUE(auth.Allows(right));
  EXPECT_TRUE(auth.Allows(right));
  EXPECT_FALSE(auth.Allows(wrong));
  EXPECT_FALSE(auth.Allows("Basic !!!!"));
  EXPECT_FALSE(auth.Allows("Bearer x"));
  // Two wrong and one right needed the hash; the second right one did not.
  EXPECT_EQ(auth.hash_checks(), 3U);
}

}  // namespace
}  // namespace callsink::test
