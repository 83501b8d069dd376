#include "manager/launch_result.h"

#include <cerrno>

namespace callsink {

int LaunchResult::FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return kPathNotFound;
    case EACCES:
    case EPERM:
      return kAccessDenied;
    case ENOMEM:
    case E2BIG:
      return kNotEnoughMemory;
    case ENOEXEC:
    case ELIBBAD:
      return kInvalidExecutable;
    case ETXTBSY:
      return kSharingViolation;
    case EAGAIN:
    case EMFILE:
    case ENFILE:
      return kOutOfResources;
    default:
      return kUnknown;
  }
}

std::string LaunchResult::Reason(int code) {
  switch (code) {
    case 0:
      return "the operating system is out of memory or resources";
    case 2:
      return "the ACD service executable file is not found";
    case 3:
      return "the ACD service path is not found";
    case 5:
      return "the operating system denies access to the ACD service file";
    case 8:
      return "there is not enough memory to complete the operation";
    case 11:
      return "the ACD service executable file is invalid";
    case 26:
      return "a sharing violation occurred";
    case 27:
      return "the ACD service executable file name association is incomplete or invalid";
    case 28:
      return "the Dynamic Data Exchange transaction could not be completed because the request "
             "timed out";
    case 29:
      return "the Dynamic Data Exchange transaction failed";
    case 30:
      return "the Dynamic Data Exchange transaction could not be completed because other DDE "
             "transactions were being processed";
    case 31:
      return "there is no application associated with the given ACD service executable file "
             "name extension";
    default:
      return "unknown";
  }
}

}  // namespace callsink
