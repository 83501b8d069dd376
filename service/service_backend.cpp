#include "service/service_backend.h"

#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstring>

#include "platform/process_info.h"
#include "platform/system_paths.h"
#include "service/standalone_backend.h"
#include "service/systemd_backend.h"

namespace callsink {

std::unique_ptr<ServiceBackend> ServiceBackend::ForThisHost() {
  const std::string executable = ProcessInfo::ExecutablePath();
  // sd_booted() looks for /run/systemd/system, which exists exactly when
  // systemd is PID 1. A relocated root never reaches the real systemd.
  if (!SystemPaths::IsRelocated() && sd_booted() > 0) {
    return std::make_unique<SystemdBackend>(SystemPaths::UnitDirectory(),
                                            SystemPaths::PackageUnitDirectory(),
                                            std::make_unique<Systemctl>(), executable);
  }
  return std::make_unique<StandaloneBackend>(SystemPaths::UnitDirectory(),
                                             SystemPaths::PackageUnitDirectory(),
                                             SystemPaths::RunDirectory(), executable);
}

void ServiceBackend::ShowError(int error) {
  std::fprintf(stderr, "%s\n", std::strerror(error));
  std::fflush(stderr);
}

void ServiceBackend::ShowPackaged(const std::string& unit_path, const std::string& instead) {
  std::fprintf(stderr, "The service comes with the callsink package (%s): %s.\n", unit_path.c_str(),
               instead.c_str());
  std::fflush(stderr);
}

}  // namespace callsink
