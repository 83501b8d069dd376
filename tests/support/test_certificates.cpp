#include "tests/support/test_certificates.h"

#include "tests/support/child_process.h"

namespace callsink::test {

bool TestCertificates::Make() {
  constexpr int kLimitMs = 120000;
  ChildProcess script(CALLSINK_CERTIFICATES_SCRIPT, {temp_.path()}, {}, {}, temp_ / "make.log");
  const std::optional<int> status = script.WaitExit(kLimitMs);
  return status && *status == 0;
}

}  // namespace callsink::test
