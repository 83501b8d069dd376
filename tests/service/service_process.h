#pragma once

#include <sys/types.h>

#include <string>

namespace callsink::test {

// What a test can see of a service process it did not start as its child.
class ServiceProcess {
 public:
  // The process holding the record lock on `pid_file`; 0 when nobody does.
  static pid_t LockHolder(const std::string& pid_file);
  // True once `pid` has ended (a zombie counts as ended).
  static bool Gone(pid_t pid);
  // Kills `pid` and waits up to 5 s for it to end.
  static void Kill(pid_t pid);
  // The parent of `pid`; 0 when it cannot be read.
  static pid_t ParentOf(pid_t pid);
  // Where /proc/<pid>/<link> points; empty when it cannot be read.
  static std::string ProcLink(pid_t pid, const std::string& link);
};

}  // namespace callsink::test
