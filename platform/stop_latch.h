#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

namespace callsink {

// Lets one thread wait, for a bounded time, until other threads have done
// what must be done before the process ends. Each of them takes a Hold and
// releases it (or lets it go out of scope) once done; WaitReleased returns
// when no hold is left or the time is up. Holds may outlive the latch.
// Any thread may call any method.
class StopLatch {
  struct Count {
    std::mutex mutex;
    std::condition_variable released;
    int holds = 0;
  };

 public:
  class Hold {
   public:
    Hold() = default;
    ~Hold() { Release(); }
    Hold(Hold&& other) noexcept = default;
    Hold& operator=(Hold&& other) noexcept {
      Release();
      count_ = std::move(other.count_);
      return *this;
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

    // Releases the hold; later calls do nothing.
    void Release();

   private:
    friend class StopLatch;
    explicit Hold(std::shared_ptr<Count> count) : count_(std::move(count)) {}
    std::shared_ptr<Count> count_;
  };

  StopLatch() : count_(std::make_shared<Count>()) {}
  StopLatch(const StopLatch&) = delete;
  StopLatch& operator=(const StopLatch&) = delete;

  Hold Take();
  // True when every hold was released within `timeout_ms`.
  bool WaitReleased(int timeout_ms) const;

 private:
  std::shared_ptr<Count> count_;
};

}  // namespace callsink
