#include "store/mysql_connection.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "store/mysql_result.h"

namespace callsink {
namespace {

// Every statement quotes its text values with double quotes and escapes
// them with backslashes, which two of the server's SQL modes break:
// NO_BACKSLASH_ESCAPES lets a double quote in a value end it, ANSI_QUOTES
// makes the value a column name. The session drops just these two and keeps
// every other mode the server was given. One statement, whatever the modes
// are, so the set-up costs the same on every server.
constexpr std::string_view kQuotingModes =
    "SET SESSION sql_mode = TRIM(BOTH ',' FROM REPLACE(REPLACE(CONCAT(',', @@SESSION.sql_mode, "
    "','), ',NO_BACKSLASH_ESCAPES,', ','), ',ANSI_QUOTES,', ','))";

// Where verify-ca and verify-identity find trusted CAs when no CA file is set.
constexpr const char* kSystemCaFolder = "/etc/ssl/certs";
// The client library pins a server certificate by its SHA-1 fingerprint only.
constexpr size_t kFingerprintDigits = 40;

// The fingerprint without the colons and blanks people write it with, or
// "" when what is left is not kFingerprintDigits hex digits.
std::string PinnableFingerprint(const std::string& text) {
  std::string digits;
  for (const char c : text) {
    if (c == ':' || std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    digits += c;
  }
  return digits.size() == kFingerprintDigits ? digits : "";
}

// The end of the server's certificate, as the server reports it ("Jan  7
// 02:03:24 2027 GMT"); 0 when it reports none.
int64_t ServerCertificateEnd(MYSQL* handle) {
  constexpr std::string_view kQuery = "SHOW STATUS LIKE 'Ssl_server_not_after'";
  if (mysql_real_query(handle, kQuery.data(), kQuery.size()) != 0) return 0;
  const MySqlResult result(mysql_store_result(handle));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr || row[1] == nullptr) return 0;
  std::tm end{};
  const char* rest = strptime(row[1], "%b %d %H:%M:%S %Y", &end);
  return rest == nullptr ? 0 : static_cast<int64_t>(timegm(&end));
}

}  // namespace

MySqlConnection::MySqlConnection(MySqlConnection&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      failure_(std::move(other.failure_)),
      tls_state_(std::move(other.tls_state_)) {}

MySqlConnection& MySqlConnection::operator=(MySqlConnection&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    failure_ = std::move(other.failure_);
    tls_state_ = std::move(other.tls_state_);
  }
  return *this;
}

bool MySqlConnection::Open(const std::string& host, const std::string& user,
                           const std::string& password, const DatabaseTlsSetting& tls,
                           const MySqlTimeouts& timeouts) {
  *this = MySqlConnection(mysql_init(nullptr));
  if (handle_ == nullptr) return false;
  mysql_options(handle_, MYSQL_SET_CHARSET_NAME, kCharacterSet);
  mysql_options(handle_, MYSQL_OPT_CONNECT_TIMEOUT, &timeouts.connect_seconds);
  mysql_options(handle_, MYSQL_OPT_READ_TIMEOUT, &timeouts.read_seconds);
  mysql_options(handle_, MYSQL_OPT_WRITE_TIMEOUT, &timeouts.write_seconds);
  // A lost connection must stay lost: its owner notices it at the next call
  // and decides itself whether and when to connect again.
  const my_bool reconnect = 0;
  mysql_options(handle_, MYSQL_OPT_RECONNECT, &reconnect);
  return ApplyTls(tls) &&
         mysql_real_connect(handle_, host.c_str(), user.c_str(), password.c_str(), "", 0, nullptr,
                            0) != nullptr &&
         CheckTls(tls) &&
         mysql_real_query(handle_, kQuotingModes.data(), kQuotingModes.size()) == 0;
}

std::string MySqlConnection::ErrorText() const {
  if (handle_ == nullptr) return "";
  return failure_.empty() ? mysql_error(handle_) : failure_;
}

bool MySqlConnection::ApplyTls(const DatabaseTlsSetting& tls) {
  using Mode = DatabaseTlsSetting::Mode;
  if (tls.mode == Mode::kInvalid) {
    return Fail("TLS \"" + tls.mode_text + "\" is none of " + DatabaseTlsSetting::ModeNames());
  }
  if (tls.mode == Mode::kOff) return true;
  struct File {
    const char* value;
    const std::string& path;
  };
  for (const File& file :
       {File{DatabaseTlsSetting::kCaValue, tls.ca}, File{DatabaseTlsSetting::kCertValue, tls.cert},
        File{DatabaseTlsSetting::kKeyValue, tls.key}}) {
    if (!file.path.empty() && access(file.path.c_str(), R_OK) != 0) {
      return Fail(std::string("TLS file ") + file.value + " " + file.path +
                  " cannot be read: " + std::strerror(errno));
    }
  }
  if (tls.cert.empty() != tls.key.empty()) {
    return Fail("TLS client certificate needs both Cert and Key");
  }
  std::string fingerprint;
  if (!tls.fingerprint.empty()) {
    fingerprint = PinnableFingerprint(tls.fingerprint);
    if (fingerprint.empty()) {
      return Fail(
          "TLS Fingerprint must be the server certificate's SHA-1 fingerprint (40 hex "
          "digits), the only kind this client library checks");
    }
  }
  // The library encrypts only when asked, and then checks the chain only
  // against a CA it was given and the host name only when told to.
  const my_bool enforce = 1;
  mysql_options(handle_, MYSQL_OPT_SSL_ENFORCE, &enforce);
  const my_bool verify_identity = tls.mode == Mode::kVerifyIdentity;
  mysql_options(handle_, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify_identity);
  if (tls.mode != Mode::kRequired) {
    if (tls.ca.empty()) {
      mysql_options(handle_, MYSQL_OPT_SSL_CAPATH, kSystemCaFolder);
    } else {
      mysql_options(handle_, MYSQL_OPT_SSL_CA, tls.ca.c_str());
    }
  }
  if (!tls.cert.empty()) {
    mysql_options(handle_, MYSQL_OPT_SSL_CERT, tls.cert.c_str());
    mysql_options(handle_, MYSQL_OPT_SSL_KEY, tls.key.c_str());
  }
  if (!fingerprint.empty()) mysql_options(handle_, MARIADB_OPT_TLS_PEER_FP, fingerprint.c_str());
  return true;
}

bool MySqlConnection::CheckTls(const DatabaseTlsSetting& tls) {
  const char* cipher = mysql_get_ssl_cipher(handle_);
  // Whatever the library did with the options, a session that asked for TLS
  // never carries a row in clear.
  if (tls.encrypted() && cipher == nullptr) {
    return Fail("TLS was asked for (" + std::string(DatabaseTlsSetting::ModeName(tls.mode)) +
                ") but the session is not encrypted");
  }
  tls_state_.encrypted = cipher != nullptr;
  tls_state_.cipher = cipher != nullptr ? cipher : "";
  tls_state_.not_after_unix = cipher != nullptr ? ServerCertificateEnd(handle_) : 0;
  return true;
}

bool MySqlConnection::Fail(std::string reason) {
  failure_ = std::move(reason);
  return false;
}

void MySqlConnection::Close() {
  if (handle_ == nullptr) return;
  mysql_close(handle_);
  handle_ = nullptr;
  tls_state_ = {};
}

}  // namespace callsink
