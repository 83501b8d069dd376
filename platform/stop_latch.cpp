#include "platform/stop_latch.h"

#include <chrono>

namespace callsink {

void StopLatch::Hold::Release() {
  if (!count_) return;
  {
    const std::lock_guard<std::mutex> lock(count_->mutex);
    --count_->holds;
  }
  count_->released.notify_all();
  count_.reset();
}

StopLatch::Hold StopLatch::Take() {
  const std::lock_guard<std::mutex> lock(count_->mutex);
  ++count_->holds;
  return Hold(count_);
}

bool StopLatch::WaitReleased(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(count_->mutex);
  return count_->released.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [&] { return count_->holds == 0; });
}

}  // namespace callsink
