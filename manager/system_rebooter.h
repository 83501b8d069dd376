#pragma once

#include "manager/rebooter.h"

namespace callsink {

// Runs `systemctl reboot` and waits for its answer; whether the caller may
// reboot is the system's decision. Refuses without asking anything while
// CALLSINK_ROOT relocates the system paths (a test setup).
class SystemRebooter : public Rebooter {
 public:
  bool RequestReboot() override;
};

}  // namespace callsink
