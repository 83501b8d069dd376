#pragma once

#include <memory>
#include <string>

namespace callsink {

class Service;

// How the service is installed, started, stopped and recognised on this
// host: through systemd, or through the standalone launcher where systemd is
// not PID 1 (containers, CI) or CALLSINK_ROOT relocates the system paths.
// Operations follow the service manager's rules: true on success, and a
// failure leaves errno-style details in the service's last error.
class ServiceBackend {
 public:
  virtual ~ServiceBackend() = default;

  virtual bool Install(Service& service) = 0;
  virtual bool Uninstall(Service& service) = 0;
  virtual bool Start(Service& service) = 0;
  virtual bool Stop(Service& service) = 0;
  // True when stopped, and whenever the state cannot be read.
  virtual bool IsStopped(Service& service) = 0;
  // True only while the service runs.
  virtual bool IsRunning(Service& service) = 0;

  // Whether this process was started by the service manager as the service.
  virtual bool StartedAsService() = 0;
  // Called in the service process when it begins and ends running, so that
  // a backend can mark it (for instance by holding a lock).
  virtual bool OnServiceStart(Service& service) = 0;
  virtual void OnServiceStop(Service& service) = 0;

  // The backend for this host: systemd when it is PID 1 and CALLSINK_ROOT
  // is unset, the standalone launcher otherwise.
  static std::unique_ptr<ServiceBackend> ForThisHost();

 protected:
  // Shows the system's text for `error` on stderr, the only place an
  // option process has for a message.
  static void ShowError(int error);
  // Says on stderr that the unit at `unit_path` came with the package, which
  // the installation options leave alone, and what happens instead.
  static void ShowPackaged(const std::string& unit_path, const std::string& instead);
};

}  // namespace callsink
