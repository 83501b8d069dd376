#pragma once

namespace callsink {

// Tells whether the collector service runs. Used on the model's thread.
class ServiceProbe {
 public:
  virtual ~ServiceProbe() = default;

  // True only while the service runs; false when it is stopped, starting,
  // stopping, not installed, or its state cannot be read.
  virtual bool IsServiceRunning() = 0;
};

}  // namespace callsink
