#include "service/standalone_backend.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "service/service.h"
#include "service/service_unit.h"

extern char** environ;

namespace callsink {
namespace {

constexpr int kStartPollMs = 20;

// What the intermediate process tells the launcher about the service it
// forked.
struct LaunchReport {
  pid_t pid = -1;
  int error = 0;
};

bool ReadExactly(int fd, void* data, size_t size) {
  auto* bytes = static_cast<char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t count = read(fd, bytes + done, size - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

// The forked service process up to exec. It runs after fork() in a process
// that may have had other threads, so only async-signal-safe calls.
[[noreturn]] void BecomeService(char* const argv[], char* const envp[], int exec_error_fd) {
  {
    FileDescriptor null_device(open("/dev/null", O_RDWR));
    if (null_device.valid()) {
      dup2(null_device.get(), STDIN_FILENO);
      dup2(null_device.get(), STDOUT_FILENO);
      dup2(null_device.get(), STDERR_FILENO);
      // Landed on a standard descriptor, it is that descriptor now.
      if (null_device.get() <= STDERR_FILENO) null_device.Release();
    }
  }
  // No other descriptor of the launcher survives into the service (a test
  // runner waiting for its output pipe would otherwise wait for the
  // service); the error pipe stays open until exec closes it.
  close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
  if (chdir("/") != 0) {
    // The service sets its own directory; "/" only keeps the launcher's
    // folder from being held busy.
  }
  // Ignored and blocked signals survive exec; the service starts clean.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    sigaction(signal_number, &default_action, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(argv[0], argv, envp);
  const int error = errno;
  if (write(exec_error_fd, &error, sizeof error) < 0) {
    // Nobody left to tell.
  }
  _exit(127);
}

// Through syscall(): the C library's declarations of these two lack C
// linkage in some releases.
FileDescriptor OpenPidfd(pid_t pid) {
  return FileDescriptor(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

bool SendSignal(const FileDescriptor& pidfd, int signal_number) {
  return syscall(SYS_pidfd_send_signal, pidfd.get(), signal_number, nullptr, 0) == 0;
}

}  // namespace

StandaloneBackend::StandaloneBackend(std::string unit_directory, std::string package_unit_directory,
                                     std::string run_directory, std::string executable_path)
    : unit_directory_(std::move(unit_directory)),
      package_unit_directory_(std::move(package_unit_directory)),
      run_directory_(std::move(run_directory)),
      executable_path_(std::move(executable_path)) {}

StandaloneBackend::~StandaloneBackend() = default;

std::string StandaloneBackend::UnitPath(const Service& service) const {
  return ServiceUnit::Locate(unit_directory_, package_unit_directory_,
                             ServiceUnit::FileName(service.name()));
}

std::string StandaloneBackend::PackageUnitPath(const Service& service) const {
  return package_unit_directory_ + "/" + ServiceUnit::FileName(service.name());
}

std::string StandaloneBackend::PidPath(const Service& service) const {
  return run_directory_ + "/" + ServiceUnit::Stem(service.name()) + ".pid";
}

std::optional<pid_t> StandaloneBackend::LockHolder(const Service& service) const {
  // Our own lock is invisible to F_GETLK, and opening the file here would
  // drop it when closed.
  if (lock_file_.valid()) return getpid();
  const FileDescriptor file(open(PidPath(service).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file.valid()) return std::nullopt;
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  if (fcntl(file.get(), F_GETLK, &query) != 0 || query.l_type == F_UNLCK) return std::nullopt;
  return query.l_pid;
}

bool StandaloneBackend::Install(Service& service) {
  if (UnitPath(service) == PackageUnitPath(service)) {
    ShowPackaged(PackageUnitPath(service), "nothing to register");
    errno = EEXIST;
    return false;
  }
  return ServiceUnit::CreateRegistered(UnitPath(service), service.name(), service.description(),
                                       executable_path_);
}

bool StandaloneBackend::Uninstall(Service& service) {
  if (UnitPath(service) == PackageUnitPath(service)) {
    ShowPackaged(PackageUnitPath(service), "remove the package to remove the service");
    errno = EPERM;
    return false;
  }
  if (!Stop(service)) return false;
  return unlink(UnitPath(service).c_str()) == 0;
}

bool StandaloneBackend::Start(Service& service) {
  if (!ServiceUnit::Exists(UnitPath(service))) {
    errno = ENOENT;
    return false;
  }
  // Like a service manager, run what was installed, not this program.
  const std::string executable = ServiceUnit::ExecutableOf(ServiceUnit::Read(UnitPath(service)));
  pid_t launched = -1;
  if (LockHolder(service)) {
    errno = EALREADY;
  } else if (executable.empty()) {
    errno = ENOEXEC;
  } else if (Launch(service, executable, &launched) && WaitUntilRunning(service, launched)) {
    return true;
  }
  ShowError(errno);
  errno = 0;
  return false;
}

bool StandaloneBackend::Launch(const Service& service, const std::string& executable,
                               pid_t* launched) const {
  // Everything the forked processes use is built here, before fork.
  std::string program = executable;
  std::string name_argument = "-name=" + service.name();
  char* const argv[] = {program.data(), name_argument.data(), nullptr};
  const std::string marker = std::string(kLaunchMarker) + "=";
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(marker)) environment.emplace_back(*entry);
  }
  environment.push_back(marker + unit_directory_);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  FileDescriptor report_reader;
  FileDescriptor report_writer;
  FileDescriptor exec_reader;
  FileDescriptor exec_writer;
  if (!FileDescriptor::OpenPipe(&report_reader, &report_writer) ||
      !FileDescriptor::OpenPipe(&exec_reader, &exec_writer)) {
    return false;
  }
  const pid_t middle = fork();
  if (middle < 0) return false;
  if (middle == 0) {
    // A new session without a terminal, then a second fork: the service is
    // no session leader (it can never get a terminal again) and, once this
    // process ends, nobody's child but init's.
    setsid();
    LaunchReport report;
    report.pid = fork();
    if (report.pid == 0) BecomeService(argv, envp.data(), exec_writer.get());
    if (report.pid < 0) report.error = errno;
    if (write(report_writer.get(), &report, sizeof report) < 0) {
      // The launcher sees the pipe close without a report.
    }
    _exit(0);
  }
  report_writer.Reset();
  exec_writer.Reset();
  LaunchReport report;
  const bool reported = ReadExactly(report_reader.get(), &report, sizeof report);
  report_reader.Reset();
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // End of file here means exec succeeded: the pipe closed on exec.
  int exec_error = 0;
  const bool exec_failed = ReadExactly(exec_reader.get(), &exec_error, sizeof exec_error);
  exec_reader.Reset();
  if (!reported) {
    errno = ECHILD;
    return false;
  }
  if (report.pid < 0) {
    errno = report.error;
    return false;
  }
  if (exec_failed) {
    errno = exec_error;
    return false;
  }
  *launched = report.pid;
  return true;
}

bool StandaloneBackend::WaitUntilRunning(const Service& service, pid_t launched) const {
  const FileDescriptor pidfd = OpenPidfd(launched);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  bool running = false;
  for (;;) {
    running = LockHolder(service).has_value();
    if (running) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      errno = ETIMEDOUT;
      break;
    }
    // The descriptor turns readable when the launched process ends.
    pollfd ended{pidfd.get(), POLLIN, 0};
    if (!pidfd.valid() || poll(&ended, 1, kStartPollMs) > 0) {
      running = LockHolder(service).has_value();
      if (!running) errno = ESRCH;
      break;
    }
  }
  return running;
}

bool StandaloneBackend::Stop(Service& service) {
  if (!ServiceUnit::Exists(UnitPath(service))) {
    errno = ENOENT;
    return false;
  }
  const std::optional<pid_t> holder = LockHolder(service);
  if (!holder) return true;
  if (*holder <= 0) {
    errno = ESRCH;
    return false;
  }
  // The descriptor pins the process the kernel named; asking again shows it
  // still holds the lock, so the signal cannot reach a process that took
  // over its PID.
  const FileDescriptor pidfd = OpenPidfd(*holder);
  if (!pidfd.valid()) return !LockHolder(service).has_value();
  const std::optional<pid_t> still = LockHolder(service);
  if (still == holder) return SendSignal(pidfd, SIGTERM) || errno == ESRCH;
  if (still) {
    errno = EAGAIN;
    return false;
  }
  return true;
}

bool StandaloneBackend::IsStopped(Service& service) {
  return !ServiceUnit::Exists(UnitPath(service)) || !LockHolder(service).has_value();
}

bool StandaloneBackend::IsRunning(Service& service) { return !IsStopped(service); }

bool StandaloneBackend::StartedAsService() {
  const char* marker = std::getenv(kLaunchMarker);
  return marker != nullptr && marker == unit_directory_;
}

bool StandaloneBackend::OnServiceStart(Service& service) {
  if (lock_file_.valid()) return true;
  std::error_code error;
  std::filesystem::create_directories(run_directory_, error);
  FileDescriptor file(
      open(PidPath(service).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!file.valid()) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(file.get(), F_SETLK, &lock) != 0) {
    errno = EAGAIN;
    return false;
  }
  const std::string pid_text = std::to_string(getpid()) + "\n";
  if (ftruncate(file.get(), 0) != 0 || pwrite(file.get(), pid_text.data(), pid_text.size(), 0) !=
                                           static_cast<ssize_t>(pid_text.size())) {
    return false;
  }
  lock_file_ = std::move(file);
  return true;
}

void StandaloneBackend::OnServiceStop(Service&) {
  if (!lock_file_.valid()) return;
  // An empty file tells a reader that nobody runs; the lock says it first.
  if (ftruncate(lock_file_.get(), 0) != 0) {
    // The released lock alone marks the file stale.
  }
  lock_file_.Reset();
}

}  // namespace callsink
