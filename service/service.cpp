#include "service/service.h"

#include <systemd/sd-daemon.h>

#include <cerrno>

#include "platform/syslog_socket_event_log.h"
#include "platform/system_paths.h"
#include "service/service_backend.h"

namespace callsink {
namespace {

// A relocated root keeps the records away from the host's syslog, like
// every other system path.
std::unique_ptr<EventLog> EventLogForThisHost() {
  if (SystemPaths::IsRelocated()) {
    return std::make_unique<SyslogSocketEventLog>(SystemPaths::Resolve("/dev/log"));
  }
  return std::make_unique<EventLog>();
}

}  // namespace

Service::Service(std::string name, std::string display_name, std::string description)
    : name_(std::move(name)),
      display_name_(std::move(display_name)),
      description_(std::move(description)),
      event_log_(EventLogForThisHost()) {}

Service::~Service() = default;

void Service::SetEventLog(std::unique_ptr<EventLog> event_log) {
  event_log_ = std::move(event_log);
}

void Service::SetBackend(std::unique_ptr<ServiceBackend> backend) { backend_ = std::move(backend); }

ServiceBackend& Service::backend() {
  if (!backend_) backend_ = ServiceBackend::ForThisHost();
  return *backend_;
}

void Service::LogEvent(int type, uint32_t id, const std::string& text) {
  event_log_->Report(type, id, text, last_error_);
}

bool Service::Report() {
  // Without a registration (console mode) there is nobody to report to.
  if (!registered_) return false;
  std::string message;
  switch (status_.state) {
    case ServiceState::kStartPending:
      message = "STATUS=Starting";
      break;
    case ServiceState::kRunning:
      message = "READY=1\nSTATUS=Running";
      break;
    case ServiceState::kStopPending:
      message = "STOPPING=1\nSTATUS=Stopping";
      break;
    case ServiceState::kStopped:
      message = "STATUS=Stopped";
      break;
  }
  // sd_notify answers 0 when the process was not started with a
  // notification socket (standalone launcher): nothing to tell, no failure.
  const int result = sd_notify(0, message.c_str());
  if (result < 0) {
    last_error_ = -result;
    return false;
  }
  return true;
}

bool Service::Init() {
  status_ = ServiceStatus{};
  if (!event_log_->Open(name_)) return false;
  registered_ = true;
  if (!backend().OnServiceStart(*this)) {
    last_error_ = errno;
    LogEvent(EventLog::kError, EventLog::kErrorMessage, "RegisterServiceCtrlHandler() failed.");
    registered_ = false;
    return false;
  }
  status_.state = ServiceState::kStartPending;
  status_.checkpoint = 0;
  status_.wait_hint_ms = 10000;
  if (!Report()) {
    LogEvent(EventLog::kError, EventLog::kErrorMessage,
             "SetServiceStatus() with SERVICE_START_PENDING flag failed.");
    return false;
  }
  last_error_ = 0;
  return true;
}

int Service::Run() {
  ++status_.checkpoint;
  status_.state = ServiceState::kRunning;
  status_.wait_hint_ms = 0;
  if (!Report() && registered_) {
    LogEvent(EventLog::kError, EventLog::kErrorMessage,
             "SetServiceStatus() with SERVICE_RUNNING flag failed.");
  } else {
    last_error_ = 0;
  }
  return 0;
}

bool Service::SetState(ServiceState state) {
  ++status_.checkpoint;
  status_.state = state;
  return Report();
}

bool Service::Shutdown() {
  ++status_.checkpoint;
  status_.state = ServiceState::kStopped;
  if (registered_) backend().OnServiceStop(*this);
  if (!Report() && registered_) {
    LogEvent(EventLog::kError, EventLog::kErrorMessage,
             "SetServiceStatus() with SERVICE_STOPPED flag failed.");
    event_log_->Close();
    registered_ = false;
    return false;
  }
  registered_ = false;
  event_log_->Close();
  last_error_ = 0;
  return true;
}

void Service::ControlHandler(int control) {
  switch (control) {
    case kControlStop:
    case kControlShutdown:
      SetState(ServiceState::kStopPending);
      close_event_.Set();
      break;
    case kControlUser1:
      LogEvent(EventLog::kInformation, EventLog::kInfoMessage, "SERVICE_CONTROL_USER1 received");
      break;
    case kControlUser2:
      LogEvent(EventLog::kInformation, EventLog::kInfoMessage, "SERVICE_CONTROL_USER2 received");
      break;
    default:
      break;
  }
}

bool Service::Control(bool (ServiceBackend::*operation)(Service&)) {
  errno = 0;
  const bool succeeded = (backend().*operation)(*this);
  last_error_ = succeeded ? 0 : errno;
  return succeeded;
}

bool Service::Install() { return Control(&ServiceBackend::Install); }
bool Service::Uninstall() { return Control(&ServiceBackend::Uninstall); }
bool Service::Start() { return Control(&ServiceBackend::Start); }
bool Service::Stop() { return Control(&ServiceBackend::Stop); }
bool Service::IsStopped() { return backend().IsStopped(*this); }
bool Service::IsRunning() { return backend().IsRunning(*this); }
bool Service::StartedAsService() { return backend().StartedAsService(); }

}  // namespace callsink
