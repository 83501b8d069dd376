#pragma once

#include <string>

#include "tests/support/temp_dir.h"

namespace callsink::test {

// A fresh set of certificates in a temporary folder, made by
// tests/support/tls/make-certificates.sh with openssl (whose opening comment
// lists the files): a CA, server certificates good, for the wrong host,
// expired and from a foreign CA, and a client certificate. Removed with the
// object. Used by one thread.
class TestCertificates {
 public:
  TestCertificates() = default;
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  // Makes them; false when that failed (the script says why in make.log
  // of the folder).
  bool Make();

  // The file `name` ("ca.pem", "server.key", ...).
  std::string operator/(const std::string& name) const { return temp_ / name; }
  const std::string& folder() const { return temp_.path(); }

 private:
  TempDir temp_;
};

}  // namespace callsink::test
