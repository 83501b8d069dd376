#pragma once

namespace callsink {

// Asks the system to restart the computer.
class Rebooter {
 public:
  virtual ~Rebooter() = default;

  // True when the system accepted the request (the restart is then under
  // way); false when it was refused or could not be made.
  virtual bool RequestReboot() = 0;
};

}  // namespace callsink
