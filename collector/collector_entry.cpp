#include "collector/collector_entry.h"

#include <pthread.h>
#include <sys/resource.h>

#include <csignal>
#include <thread>

#include "collector/call_sink.h"
#include "service/service_options.h"

namespace callsink {
namespace {

constexpr size_t kMaxServiceName = 255;
// The closest Linux counterpart of a raised priority class.
constexpr int kServiceNiceness = -10;

ManualResetEvent* console_close_event = nullptr;

// Closing the terminal (SIGHUP) or a stop (SIGTERM) ends console mode.
// Setting the event is async-signal-safe.
void OnConsoleClose(int) {
  if (console_close_event != nullptr) console_close_event->Set();
}

// In service mode the signals are the service manager's control codes. They
// are taken by one thread with sigwait, so the handler may log and change
// the directory, which a signal handler could not.
void ServeControlSignals(CallSink* service, sigset_t signals) {
  for (;;) {
    int signal_number = 0;
    if (sigwait(&signals, &signal_number) != 0) continue;
    switch (signal_number) {
      case SIGTERM:
        service->ControlHandler(kControlStop);
        break;
      case SIGUSR1:
        service->ControlHandler(kControlUser1);
        break;
      case SIGUSR2:
        service->ControlHandler(kControlUser2);
        break;
      default:
        break;
    }
  }
}

}  // namespace

std::string CollectorEntry::CommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

std::string CollectorEntry::ServiceNameFrom(const std::string& command_line) {
  const std::string marker = "-name=";
  const size_t at = command_line.find(marker);
  if (at == std::string::npos) return {};
  const size_t begin = at + marker.size();
  size_t end = command_line.find_first_of(" \t", at);
  if (end == std::string::npos) end = command_line.size();
  if (end <= begin) return {};
  return command_line.substr(begin, std::min(end - begin, kMaxServiceName));
}

bool CollectorEntry::RunDispatcher(CallSink& service, const std::string& command_line) {
  if (ServiceNameFrom(command_line).empty()) return false;
  // A process the service manager did not start cannot be the service: the
  // dispatcher fails at once and the caller goes on with the options.
  if (!service.StartedAsService()) return false;
  ServiceMain(service);
  return true;
}

void CollectorEntry::ServiceMain(CallSink& service) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGUSR2);
  // Blocked before any other thread exists, so every thread inherits it and
  // only the control thread takes these signals.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGHUP, SIG_IGN);
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread control(ServeControlSignals, &service, signals);
  pthread_setname_np(control.native_handle(), "service control");
  control.detach();

  if (service.Init()) {
    setpriority(PRIO_PROCESS, 0, kServiceNiceness);
    service.Run();
  }
  service.Shutdown();
}

int CollectorEntry::ConsoleMode(CallSink& service) {
  if (!service.PrepareProcess()) return 1;
  console_close_event = &service.closeEvent();
  struct sigaction close_action {};
  close_action.sa_handler = OnConsoleClose;
  sigemptyset(&close_action.sa_mask);
  sigaction(SIGHUP, &close_action, nullptr);
  sigaction(SIGTERM, &close_action, nullptr);
  // Ctrl+C and Ctrl+\ do not end the collector; closing the terminal does.
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGQUIT, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  return service.Run() == CallSink::kRefused ? 1 : 0;
}

int CollectorEntry::Main(CallSink& service, int argc, char** argv) {
  const std::string command_line = CommandLine(argc, argv);
  if (RunDispatcher(service, command_line)) return 1;
  if (ServiceOptions::IsOption(command_line)) {
    ServiceOptions::Perform(service, command_line);
    return 0;
  }
  return ConsoleMode(service);
}

}  // namespace callsink
