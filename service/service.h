#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/event_log.h"
#include "platform/manual_reset_event.h"

namespace callsink {

class ServiceBackend;

// Service states, numbered as the service manager's status codes.
enum class ServiceState : int {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
};

// Control codes the service accepts; 128 and 129 are user codes.
constexpr int kControlStop = 1;
constexpr int kControlShutdown = 5;
constexpr int kControlUser1 = 128;
constexpr int kControlUser2 = 129;

// The status last reported to the service manager.
struct ServiceStatus {
  ServiceState state = ServiceState::kStopped;
  uint32_t checkpoint = 0;
  uint32_t wait_hint_ms = 0;
};

// The service framework: one program that runs as a service (reporting its
// state through sd_notify and its records through the event log), and that
// installs, removes, starts and stops itself through a ServiceBackend
// (systemd, or the standalone launcher on hosts without it).
//
// The running service's status is written by the thread that runs the
// service and by the control handler; the close event may be set and
// waited on from any thread.
class Service {
 public:
  Service(std::string name, std::string display_name, std::string description);
  virtual ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Start-up inside the service process: opens the event log and reports
  // START_PENDING. False when nothing can be reported; Shutdown is still due.
  virtual bool Init();
  // Reports RUNNING; always returns 0.
  virtual int Run();
  // Reports STOPPED and closes the event log.
  virtual bool Shutdown();

  // Reports `state` with the next checkpoint; false when the report failed.
  bool SetState(ServiceState state);
  // One event-log record; does nothing while the event log is closed.
  void LogEvent(int type, uint32_t id, const std::string& text);
  // What the service manager's control code asks for: stop and shutdown
  // set the close event, the two user codes write their records.
  virtual void ControlHandler(int control);

  // Installation and control, over the backend that fits this host. Each
  // sets last_error() to 0 on success and to the errno of the failure
  // otherwise; Start shows a failure to launch on stderr and then clears it.
  bool Install();
  bool Uninstall();
  bool Start();
  bool Stop();
  bool IsStopped();
  bool IsRunning();
  // Whether this process was started by the service manager as the service.
  bool StartedAsService();

  ManualResetEvent& closeEvent() { return close_event_; }
  const std::string& name() const { return name_; }
  const std::string& display_name() const { return display_name_; }
  const std::string& description() const { return description_; }
  const ServiceStatus& status() const { return status_; }
  // The process's last-error code as the framework operations leave it.
  int last_error() const { return last_error_; }

  // Replaces the event log (tests read the records back). Takes ownership.
  // The default writes to syslog, or below CALLSINK_ROOT to the syslog
  // socket "<root>/dev/log".
  void SetEventLog(std::unique_ptr<EventLog> event_log);
  // Replaces the installation backend. Takes ownership.
  void SetBackend(std::unique_ptr<ServiceBackend> backend);

 protected:
  void set_last_error(int code) { last_error_ = code; }

 private:
  bool Report();
  ServiceBackend& backend();
  // Runs one installation or control operation of the backend and keeps
  // its error code.
  bool Control(bool (ServiceBackend::*operation)(Service&));

  const std::string name_;
  const std::string display_name_;
  const std::string description_;
  ManualResetEvent close_event_;
  std::unique_ptr<EventLog> event_log_;
  std::unique_ptr<ServiceBackend> backend_;
  ServiceStatus status_;
  bool registered_ = false;
  int last_error_ = 0;
};

}  // namespace callsink
