#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace callsink {

// A web configuration file in the format the Prometheus exporters read:
//
//   tls_server_config:       # absent, or no cert_file and key_file: plain HTTP
//     cert_file: FILE        # PEM certificate chain
//     key_file: FILE         # its PEM private key
//     client_auth_type: NoClientCert | RequestClientCert | RequireAnyClientCert |
//                       VerifyClientCertIfGiven | RequireAndVerifyClientCert
//     client_ca_file: FILE   # the CAs client certificates are verified
//                            # against; none: the system's store
//     min_version: TLS10 | TLS11 | TLS12 (default) | TLS13
//     max_version: TLS10 | TLS11 | TLS12 | TLS13 (default)
//     prefer_server_cipher_suites: BOOL
//   http_server_config:
//     http2: BOOL            # accepted; answers are HTTP/1.1
//     headers: {NAME: VALUE} # added to every answer
//   basic_auth_users:        # none: no authentication
//     USER: BCRYPT-HASH      # $2a$, $2b$ or $2y$
//
// Relative file names count from the file's folder. Any other key, and a
// setting this server cannot follow (cipher_suites, inline certificates),
// makes the file invalid, so that nothing is served with less protection
// than the file asks for.
struct WebConfig {
  enum class ClientAuth {
    kNone,              // NoClientCert
    kRequest,           // RequestClientCert: asked for, not verified
    kRequireAny,        // RequireAnyClientCert: required, not verified
    kVerifyIfGiven,     // VerifyClientCertIfGiven
    kRequireAndVerify,  // RequireAndVerifyClientCert
  };

  struct Tls {
    std::string cert_file, key_file;
    ClientAuth client_auth = ClientAuth::kNone;
    std::string client_ca_file;  // "": the system's store when client_auth verifies
    int min_version = 0;         // OpenSSL's version number (TLS1_2_VERSION ...)
    int max_version = 0;         // 0: the newest the library has
    bool prefer_server_ciphers = false;
  };

  std::optional<Tls> tls;                      // empty: plain HTTP
  std::map<std::string, std::string> users;    // user -> bcrypt hash; empty: open
  std::map<std::string, std::string> headers;  // added to every answer

  // Reads `path`. False with a line saying what is wrong in `error` (the
  // file's name first) when it cannot be read or is not valid.
  static bool Load(const std::string& path, WebConfig* config, std::string* error);

  // The files a change of which changes what is served: the certificate,
  // its key and the client CAs (the configuration file itself aside).
  std::vector<std::string> Files() const;
};

}  // namespace callsink
