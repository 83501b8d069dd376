#include "service/systemd_backend.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "service/service.h"
#include "service/service_unit.h"

namespace callsink {
namespace {

// systemctl's exit code when the unit is not loaded at all.
constexpr int kUnitNotLoaded = 5;

}  // namespace

SystemdBackend::SystemdBackend(std::string unit_directory, std::string package_unit_directory,
                               std::unique_ptr<Systemctl> systemctl, std::string executable_path)
    : unit_directory_(std::move(unit_directory)),
      package_unit_directory_(std::move(package_unit_directory)),
      systemctl_(std::move(systemctl)),
      executable_path_(std::move(executable_path)) {}

std::string SystemdBackend::UnitPath(const Service& service) const {
  return ServiceUnit::Locate(unit_directory_, package_unit_directory_,
                             ServiceUnit::FileName(service.name()));
}

std::string SystemdBackend::PackageUnitPath(const Service& service) const {
  return package_unit_directory_ + "/" + ServiceUnit::FileName(service.name());
}

bool SystemdBackend::Succeeds(const std::vector<std::string>& arguments) {
  errno = 0;
  const int code = systemctl_->Run(arguments, nullptr, Systemctl::Errors::kHidden);
  if (code > 0) errno = 0;
  return code == 0;
}

std::string SystemdBackend::ActiveState(const Service& service) {
  std::string output;
  if (systemctl_->Run(
          {"show", "--property=ActiveState", "--value", ServiceUnit::FileName(service.name())},
          &output, Systemctl::Errors::kHidden) != 0) {
    return {};
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

bool SystemdBackend::Install(Service& service) {
  const std::string path = UnitPath(service);
  if (ServiceUnit::Exists(path)) {
    if (path == PackageUnitPath(service)) ShowPackaged(path, "nothing to register");
    errno = EEXIST;
    return false;
  }
  if (!ServiceUnit::CreateRegistered(path, service.name(), service.description(),
                                     executable_path_)) {
    return false;
  }
  return Succeeds({"daemon-reload"}) && Succeeds({"enable", ServiceUnit::FileName(service.name())});
}

bool SystemdBackend::Uninstall(Service& service) {
  const std::string path = UnitPath(service);
  if (!ServiceUnit::Exists(path)) {
    errno = ENOENT;
    return false;
  }
  if (path == PackageUnitPath(service)) {
    ShowPackaged(path, "remove the package to remove the service");
    errno = EPERM;
    return false;
  }
  if (!Stop(service)) return false;
  if (!Succeeds({"disable", ServiceUnit::FileName(service.name())})) return false;
  if (unlink(path.c_str()) != 0) return false;
  return Succeeds({"daemon-reload"});
}

bool SystemdBackend::Start(Service& service) {
  if (!ServiceUnit::Exists(UnitPath(service))) {
    errno = ENOENT;
    return false;
  }
  const int code = systemctl_->Run({"start", ServiceUnit::FileName(service.name())}, nullptr,
                                   Systemctl::Errors::kShown);
  if (code == 0) return true;
  // A refusal was explained by systemctl itself; only a failure to run it
  // needs our own words.
  if (code < 0) ShowError(errno);
  errno = 0;
  return false;
}

bool SystemdBackend::Stop(Service& service) {
  if (!ServiceUnit::Exists(UnitPath(service))) {
    errno = ENOENT;
    return false;
  }
  // --no-block: the caller waits for the stopped state itself.
  errno = 0;
  const int code = systemctl_->Run({"--no-block", "stop", ServiceUnit::FileName(service.name())},
                                   nullptr, Systemctl::Errors::kHidden);
  if (code > 0) errno = 0;
  return code == 0 || code == kUnitNotLoaded;
}

bool SystemdBackend::IsStopped(Service& service) {
  if (!ServiceUnit::Exists(UnitPath(service))) return true;
  const std::string state = ActiveState(service);
  return state.empty() || state == "inactive" || state == "failed";
}

bool SystemdBackend::IsRunning(Service& service) {
  if (!ServiceUnit::Exists(UnitPath(service))) return false;
  const std::string state = ActiveState(service);
  return state == "active" || state == "reloading";
}

bool SystemdBackend::StartedAsService() {
  const char* invocation = std::getenv("INVOCATION_ID");
  const char* exec_pid = std::getenv("SYSTEMD_EXEC_PID");
  if (invocation == nullptr || *invocation == '\0' || exec_pid == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long pid = std::strtol(exec_pid, &end, 10);
  return errno == 0 && end != exec_pid && *end == '\0' && pid == getpid();
}

bool SystemdBackend::OnServiceStart(Service&) { return true; }

void SystemdBackend::OnServiceStop(Service&) {}

}  // namespace callsink
