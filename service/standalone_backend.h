#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/file_descriptor.h"
#include "service/service_backend.h"

namespace callsink {

// The service on a host without systemd as PID 1, or below CALLSINK_ROOT.
// The unit file in `unit_directory`, or else the one the Debian package
// ships in `package_unit_directory`, is the installation (the same files the
// systemd backend uses). "-start" launches the executable detached, with
// kLaunchMarker in its environment. The running service holds an exclusive
// record lock (fcntl F_SETLK) on "<run_directory>/<stem>.pid", which holds
// its PID; the lock is the only proof that the service runs: a pid file
// without a lock is stale and never used.
//
// A record lock, unlike flock(), lets another process ask the kernel which
// process holds it (F_GETLK), so a stop signal goes to the process that
// holds the lock now, never to a PID read from a file. The catch: a process
// loses its record lock when it closes any descriptor of the file, so the
// service process asks its own object (which answers from the lock it holds)
// and never a second StandaloneBackend.
//
// One thread at a time.
class StandaloneBackend : public ServiceBackend {
 public:
  // The environment variable that marks a process launched by Start; its
  // value is the unit directory of the launching installation.
  static constexpr const char* kLaunchMarker = "CALLSINK_SERVICE_LAUNCH";
  // How long Start waits for the launched service to take its lock.
  static constexpr int kStartTimeoutMs = 10000;

  // `executable_path` is what Install writes into the unit; Start launches
  // what the unit names, with "-name=<service name>".
  StandaloneBackend(std::string unit_directory, std::string package_unit_directory,
                    std::string run_directory, std::string executable_path);
  ~StandaloneBackend() override;
  StandaloneBackend(const StandaloneBackend&) = delete;
  StandaloneBackend& operator=(const StandaloneBackend&) = delete;

  // Writes the unit file; an existing one is left as it is (false, EEXIST),
  // and so is the package's, which it says on stderr.
  bool Install(Service& service) override;
  // Signals a running service to stop (without waiting) and removes the
  // unit file. The package's unit stays (false, EPERM, said on stderr).
  bool Uninstall(Service& service) override;
  // Launches the executable the unit names, in its own session (stdin,
  // stdout and stderr on /dev/null), and waits until it holds its lock, it ends, or
  // kStartTimeoutMs pass. A missing unit fails silently; any other failure
  // (already running, the executable not launchable, the service ending at
  // once, a unit naming no executable) shows the system's text for it on
  // stderr.
  bool Start(Service& service) override;
  // SIGTERM to the process holding the lock; true at once when nobody does.
  bool Stop(Service& service) override;
  // Nobody holds the lock (or the service is not installed).
  bool IsStopped(Service& service) override;
  bool IsRunning(Service& service) override;

  // kLaunchMarker names this backend's unit directory.
  bool StartedAsService() override;
  // Takes the lock and writes this process's PID; false (errno EAGAIN)
  // when another process holds it.
  bool OnServiceStart(Service& service) override;
  // Empties the pid file and releases the lock.
  void OnServiceStop(Service& service) override;

 private:
  // The installed unit: the administrator's, else the package's.
  std::string UnitPath(const Service& service) const;
  std::string PackageUnitPath(const Service& service) const;
  std::string PidPath(const Service& service) const;
  // The process that holds the lock: empty when nobody does, 0 when it is
  // outside this process's PID namespace.
  std::optional<pid_t> LockHolder(const Service& service) const;
  // Forks `executable` off in its own session as the service; `launched`
  // receives its PID.
  bool Launch(const Service& service, const std::string& executable, pid_t* launched) const;
  bool WaitUntilRunning(const Service& service, pid_t launched) const;

  const std::string unit_directory_;
  const std::string package_unit_directory_;
  const std::string run_directory_;
  const std::string executable_path_;
  // The locked pid file while this process runs as the service.
  FileDescriptor lock_file_;
};

}  // namespace callsink
