#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "health/metrics_page.h"
#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "store/mysql_connection.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/test_certificates.h"

namespace callsink::test {
namespace {

using ::testing::HasSubstr;
using Mode = DatabaseTlsSetting::Mode;

constexpr char kTlsUser[] = "over_tls";    // REQUIRE SSL
constexpr char kX509User[] = "with_x509";  // REQUIRE X509
constexpr char kPassword[] = "secret";

// Two servers: `Tls` offers TLS on 127.0.0.1 (the client library's default
// port) with the certificate a case puts in place and trusts client
// certificates of the tests' CA; `Plain` offers no TLS and is reached on its
// socket (host "localhost").
class TlsServers : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!certificates.Make()) return;
    std::filesystem::copy_file(certificates / "server.pem", certificates / "live.pem");
    std::filesystem::copy_file(certificates / "server.key", certificates / "live.key");
    presented = "server";
    if (!tls.Start(MariaDbServer::TlsOptions(certificates / "ca.pem", certificates / "live.pem",
                                             certificates / "live.key")) ||
        !plain.Start() || !tls.env() || !plain.env()) {
      return;
    }
    // Read by the client library at its first mysql_init, which comes next.
    setenv("MYSQL_TCP_PORT", std::to_string(tls.env()->port).c_str(), 1);
    setenv("MYSQL_UNIX_PORT", plain.env()->socket.c_str(), 1);
    for (const char* statement :
         {"CREATE USER over_tls@'%' IDENTIFIED BY 'secret' REQUIRE SSL",
          "CREATE USER with_x509@'%' IDENTIFIED BY 'secret' REQUIRE X509",
          "GRANT ALL ON *.* TO over_tls@'%'", "GRANT ALL ON *.* TO with_x509@'%'"}) {
      if (!Admin(statement)) return;
    }
    ready = true;
  }

  // Makes the TLS server present certificate `name` ("server", "expired", ...).
  bool Present(const std::string& name) {
    if (name == presented) return true;
    using std::filesystem::copy_options;
    std::filesystem::copy_file(certificates / (name + ".pem"), certificates / "live.pem",
                               copy_options::overwrite_existing);
    std::filesystem::copy_file(certificates / (name + ".key"), certificates / "live.key",
                               copy_options::overwrite_existing);
    presented = name;
    return Admin("FLUSH SSL");
  }

  // Runs `statement` on the TLS server as its administrator, in clear.
  bool Admin(const char* statement) {
    MySqlConnection admin;
    return admin.Open("127.0.0.1", tls.env()->admin_user, tls.env()->admin_password) &&
           mysql_query(admin.get(), statement) == 0;
  }

  TestCertificates certificates;
  MariaDbServer tls, plain;
  std::string presented;
  bool ready = false;
};

TlsServers* const servers =
    static_cast<TlsServers*>(::testing::AddGlobalTestEnvironment(new TlsServers));

std::string FileText(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

struct TlsCase {
  const char* name;
  const char* presented;  // the TLS server's certificate; nullptr: the server without TLS
  const char* mode;       // the TLS value
  const char* ca;         // a file of the certificates, "" for none
  const char* user;       // kTlsUser, kX509User or "admin"
  bool client_certificate;
  const char* fingerprint;  // a file of the certificates holding it, "" for none
  const char* refusal;      // nullptr: connects; otherwise part of the reason given
};

void PrintTo(const TlsCase& c, std::ostream* out) { *out << c.name; }

class MySqlTlsTest : public ::testing::TestWithParam<TlsCase> {
 protected:
  void SetUp() override {
    if (!servers->ready) {
      if (RunsInCi()) FAIL() << "No private MariaDB servers with TLS";
      GTEST_SKIP() << "No private MariaDB servers with TLS: mariadbd or openssl missing";
    }
  }
};

const TlsCase kCases[] = {
    {"OffReachesAServerWithoutTls", nullptr, "off", "", "admin", false, "", nullptr},
    {"OffSendsNoTls", "server", "off", "", kTlsUser, false, "", "Access denied"},
    {"RequiredEncrypts", "server", "required", "", kTlsUser, false, "", nullptr},
    {"RequiredTakesAnyCertificate", "foreign", "required", "", kTlsUser, false, "", nullptr},
    {"RequiredIgnoresTheCa", "foreign", "Required", "ca.pem", kTlsUser, false, "", nullptr},
    // Over a socket the library goes on in clear; the cipher check ends it.
    {"RequiredRefusesAServerWithoutTls", nullptr, "required", "", "admin", false, "",
     "TLS was asked for (required) but the session is not encrypted"},
    {"VerifyCaAcceptsOurCa", "server", "verify-ca", "ca.pem", kTlsUser, false, "", nullptr},
    {"VerifyCaIgnoresTheHostName", "wrong-host", "verify-ca", "ca.pem", kTlsUser, false, "",
     nullptr},
    {"VerifyCaRefusesAnotherCa", "server", "verify-ca", "other-ca.pem", kTlsUser, false, "",
     "certificate"},
    {"VerifyCaRefusesAForeignCertificate", "foreign", "verify-ca", "ca.pem", kTlsUser, false, "",
     "certificate"},
    {"VerifyCaRefusesAnExpiredCertificate", "expired", "verify-ca", "ca.pem", kTlsUser, false, "",
     "expired"},
    {"VerifyCaTrustsTheSystemStoreOnly", "server", "verify-ca", "", kTlsUser, false, "",
     "certificate"},
    {"VerifyCaRefusesAServerWithoutTls", nullptr, "verify-ca", "ca.pem", "admin", false, "",
     "not encrypted"},
    {"VerifyIdentityAcceptsOurCertificate", "server", "verify-identity", "ca.pem", kTlsUser, false,
     "", nullptr},
    {"VerifyIdentityRefusesTheWrongHost", "wrong-host", "verify-identity", "ca.pem", kTlsUser,
     false, "", "TLS/SSL error"},
    {"VerifyIdentityRefusesAnExpiredCertificate", "expired", "verify-identity", "ca.pem", kTlsUser,
     false, "", "expired"},
    {"VerifyIdentityRefusesAServerWithoutTls", nullptr, "verify-identity", "ca.pem", "admin", false,
     "", "SSL"},
    {"ClientCertificateIsPresented", "server", "verify-identity", "ca.pem", kX509User, true, "",
     nullptr},
    {"NoClientCertificateWhereOneIsRequired", "server", "verify-identity", "ca.pem", kX509User,
     false, "", "Access denied"},
    {"FingerprintPinsTheCertificate", "server", "required", "", kTlsUser, false, "server.sha1",
     nullptr},
    {"FingerprintRefusesAnotherCertificate", "foreign", "required", "", kTlsUser, false,
     "server.sha1", "Fingerprint"},
    {"Sha256FingerprintIsRefusedAsUncheckable", "server", "required", "", kTlsUser, false,
     "server.sha256", "SHA-1"},
    {"UnknownModeOpensNothing", "server", "strict", "", kTlsUser, false, "", "is none of off"},
    {"UnreadableCaIsNamed", "server", "verify-ca", "missing.pem", kTlsUser, false, "",
     "TLS file CA "},
};

TEST_P(MySqlTlsTest, OpensOnlyWhatTheSettingAllows) {
  const TlsCase& c = GetParam();
  const bool plain = c.presented == nullptr;
  if (!plain) {
    ASSERT_TRUE(servers->Present(c.presented));
  }
  const TestCertificates& files = servers->certificates;
  DatabaseTlsSetting tls;
  tls.mode_text = c.mode;
  tls.mode = DatabaseTlsSetting::ParseMode(c.mode).value_or(Mode::kInvalid);
  if (*c.ca != '\0') tls.ca = files / c.ca;
  if (c.client_certificate) {
    tls.cert = files / "client.pem";
    tls.key = files / "client.key";
  }
  if (*c.fingerprint != '\0') tls.fingerprint = FileText(files / c.fingerprint);
  const MariaDbEnv& env = *(plain ? servers->plain : servers->tls).env();
  const bool admin = std::string(c.user) == "admin";

  MySqlConnection connection;
  const bool opened =
      connection.Open(plain ? "localhost" : "127.0.0.1", admin ? env.admin_user : c.user,
                      admin ? env.admin_password : kPassword, tls);

  if (c.refusal != nullptr) {
    EXPECT_FALSE(opened);
    EXPECT_THAT(connection.ErrorText(), HasSubstr(c.refusal));
    return;
  }
  ASSERT_TRUE(opened) << connection.ErrorText();
  const MySqlTlsState& state = connection.tls_state();
  EXPECT_EQ(state.encrypted, tls.encrypted());
  EXPECT_EQ(state.cipher.empty(), !tls.encrypted());
  if (tls.encrypted()) {
    // The certificates are made for 30 days.
    const int64_t days = (state.not_after_unix - std::time(nullptr)) / 86400;
    EXPECT_TRUE(days >= 28 && days <= 30) << days;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, MySqlTlsTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

// The collector's store: a refused certificate is a connect failure in the
// worker's log with the library's reason; an accepted one shows on the
// metrics page.
TEST_F(MySqlTlsTest, StoreLogsRefusalsAndServesTheLinksTls) {
  ASSERT_TRUE(servers->Present("server"));
  TempDir folder;
  TempDir::MakeFolder(folder / "logs");
  const std::filesystem::path previous = std::filesystem::current_path();
  ASSERT_EQ(chdir(folder.path().c_str()), 0);
  ActivityLog log;
  ASSERT_TRUE(log.Open("tls"));
  auto stats = std::make_shared<WorkerStats>();
  AcdDatabase store(&log);
  store.CountInto(stats.get());
  DatabaseTlsSetting tls;
  tls.mode = Mode::kVerifyCa;
  tls.ca = servers->certificates / "other-ca.pem";
  EXPECT_FALSE(store.Connect("127.0.0.1", kTlsUser, kPassword, tls));
  tls.mode = Mode::kVerifyIdentity;
  tls.ca = servers->certificates / "ca.pem";
  EXPECT_TRUE(store.Connect("127.0.0.1", kTlsUser, kPassword, tls));
  ASSERT_EQ(chdir(previous.c_str()), 0);

  std::ifstream lines(folder / "logs/acd_tls.log");
  std::string text((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
  EXPECT_THAT(text, HasSubstr("Connect to DB failed: TLS/SSL error: self-signed certificate"));
  EXPECT_THAT(text, HasSubstr("Connected to database (127.0.0.1)"));
  const std::string page = MetricsPage({{1, "10.0.0.5", stats}}).Render();
  EXPECT_THAT(page, HasSubstr("callsink_database_tls{server=\"10.0.0.5\",config=\"1\"} 1\n"));
  EXPECT_THAT(page, HasSubstr("callsink_database_certificate_expiry_days{server=\"10.0.0.5\","
                              "config=\"1\"} 29.9"));
}

}  // namespace
}  // namespace callsink::test
