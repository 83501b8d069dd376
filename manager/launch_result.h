#pragma once

#include <string>

namespace callsink {

// Launch result codes: above 32 means started; 0..32 name the reason a
// program could not be started, with the texts the manager shows.
class LaunchResult {
 public:
  static constexpr int kStarted = 33;
  static constexpr int kOutOfResources = 0;
  static constexpr int kFileNotFound = 2;
  static constexpr int kPathNotFound = 3;
  static constexpr int kAccessDenied = 5;
  static constexpr int kNotEnoughMemory = 8;
  static constexpr int kInvalidExecutable = 11;
  static constexpr int kSharingViolation = 26;
  static constexpr int kUnknown = 32;

  static bool Succeeded(int code) { return code > 32; }
  // The code for a failed launch's errno: ENOENT 2, ENOTDIR 3, EACCES 5,
  // ENOMEM 8, ENOEXEC 11, ETXTBSY 26, ...; an errno without a counterpart
  // gives kUnknown.
  static int FromErrno(int error);
  // The reason text for a failure code; "unknown" for codes without one.
  static std::string Reason(int code);
};

}  // namespace callsink
