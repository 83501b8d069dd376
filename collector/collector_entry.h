#pragma once

#include <string>

namespace callsink {

class CallSink;

// The collector's entry function: service mode when the service manager
// started it with "-name=", one of the four installation options, or console
// mode for anything else. Runs on the main thread.
class CollectorEntry {
 public:
  // Returns the process exit code: 1 when the service dispatcher ran or
  // console mode was refused (another collector runs on the configuration
  // store), otherwise 0.
  static int Main(CallSink& service, int argc, char** argv);

  // The command-line text after the program name: the arguments joined
  // with single blanks.
  static std::string CommandLine(int argc, char** argv);
  // The service name after "-name=", up to the first blank or tab, at most
  // 255 characters; empty when there is none.
  static std::string ServiceNameFrom(const std::string& command_line);

  // Runs the service when the command line names one and the service
  // manager started this process; false at once otherwise.
  static bool RunDispatcher(CallSink& service, const std::string& command_line);

 private:
  static void ServiceMain(CallSink& service);
  static int ConsoleMode(CallSink& service);
};

}  // namespace callsink
