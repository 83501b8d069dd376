#include "collector/service_backend.h"

namespace callsink {
namespace {

// Stand-in until the systemd and standalone backends exist: nothing is
// installed, nothing runs.
class UnavailableBackend : public ServiceBackend {
 public:
  bool Install(Service&) override { return false; }
  bool Uninstall(Service&) override { return false; }
  bool Start(Service&) override { return false; }
  bool Stop(Service&) override { return false; }
  bool IsStopped(Service&) override { return true; }
  bool IsRunning(Service&) override { return false; }
  bool StartedAsService() override { return false; }
  bool OnServiceStart(Service&) override { return true; }
  void OnServiceStop(Service&) override {}
};

}  // namespace

std::unique_ptr<ServiceBackend> ServiceBackend::ForThisHost() {
  return std::make_unique<UnavailableBackend>();
}

}  // namespace callsink
