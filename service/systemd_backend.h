#pragma once

#include <memory>
#include <string>

#include "service/service_backend.h"
#include "service/systemctl.h"

namespace callsink {

// The service under systemd: a Type=notify unit in `unit_directory`
// (/etc/systemd/system), or the one the Debian package ships in
// `package_unit_directory` (/usr/lib/systemd/system), driven through
// systemctl. The unit file is the installation: no unit file, no service.
//
// systemctl rather than sd-bus: it carries systemd's own job handling and
// its own error messages (which "-start" shows as they are), it works over
// systemd's private socket when no system bus runs, and it leaves no bus
// connection to manage in a short-lived option process.
//
// When systemctl refuses an operation, the failure leaves errno 0: its
// message is the detail. One thread at a time.
class SystemdBackend : public ServiceBackend {
 public:
  // `executable_path` is what the unit runs.
  SystemdBackend(std::string unit_directory, std::string package_unit_directory,
                 std::unique_ptr<Systemctl> systemctl, std::string executable_path);

  // Writes the unit, reloads systemd and enables the unit; an existing unit
  // file is left as it is (false, errno EEXIST), and so is the package's,
  // which it says on stderr.
  bool Install(Service& service) override;
  // Stops the service without waiting, disables it, removes the unit file
  // and reloads systemd; the first failure ends it. The package's unit stays
  // (false, errno EPERM, said on stderr).
  bool Uninstall(Service& service) override;
  // "systemctl start", which waits until the service reports READY=1 or
  // fails; systemctl's own message goes to stderr on failure. A missing unit
  // fails silently.
  bool Start(Service& service) override;
  // Asks for the stop and returns at once; a unit that is not loaded counts
  // as stopped already.
  bool Stop(Service& service) override;
  // From the unit's ActiveState: "inactive" and "failed" are stopped.
  bool IsStopped(Service& service) override;
  // ActiveState "active" (READY=1 was sent) or "reloading".
  bool IsRunning(Service& service) override;

  // INVOCATION_ID is set and SYSTEMD_EXEC_PID names this process: systemd
  // started this very process, not one of its ancestors.
  bool StartedAsService() override;
  bool OnServiceStart(Service& service) override;
  void OnServiceStop(Service& service) override;

 private:
  // The unit systemd loads: the administrator's, else the package's.
  std::string UnitPath(const Service& service) const;
  std::string PackageUnitPath(const Service& service) const;
  // True when systemctl ran and exited with 0.
  bool Succeeds(const std::vector<std::string>& arguments);
  // The unit's ActiveState; empty when systemctl cannot tell.
  std::string ActiveState(const Service& service);

  const std::string unit_directory_;
  const std::string package_unit_directory_;
  const std::unique_ptr<Systemctl> systemctl_;
  const std::string executable_path_;
};

}  // namespace callsink
