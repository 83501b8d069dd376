#pragma once

#include <cerrno>
#include <string>
#include <vector>

#include "service/service_backend.h"

namespace callsink::test {

// A scripted service manager: records each operation by name, answers with
// the results a test sets, and fails with `error` in errno.
class FakeServiceBackend : public ServiceBackend {
 public:
  bool Install(Service&) override { return Answer("Install", install_result); }
  bool Uninstall(Service&) override { return Answer("Uninstall", uninstall_result); }
  bool Start(Service&) override { return Answer("Start", start_result); }
  bool Stop(Service&) override { return Answer("Stop", stop_result); }
  // Stopped once `stopped_after` queries have answered "not yet"; negative
  // means never.
  bool IsStopped(Service&) override {
    calls.push_back("IsStopped");
    return stopped_after >= 0 && is_stopped_queries++ >= stopped_after;
  }
  bool IsRunning(Service&) override { return Answer("IsRunning", running); }
  bool StartedAsService() override { return Answer("StartedAsService", started_as_service); }
  bool OnServiceStart(Service&) override { return Answer("OnServiceStart", service_start_result); }
  void OnServiceStop(Service&) override { calls.push_back("OnServiceStop"); }

  std::vector<std::string> calls;
  bool install_result = true;
  bool uninstall_result = true;
  bool start_result = true;
  bool stop_result = true;
  int stopped_after = 0;
  bool running = false;
  bool started_as_service = false;
  bool service_start_result = true;
  int error = EIO;

 private:
  bool Answer(const char* name, bool result) {
    calls.push_back(name);
    if (!result) errno = error;
    return result;
  }
  int is_stopped_queries = 0;
};

}  // namespace callsink::test
