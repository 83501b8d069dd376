#include "platform/manual_reset_event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

namespace callsink {
namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(ManualResetEventTest, WaitTimesOutWhileUnsetAndReturnsAtOnceForeverAfterSet) {
  ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  auto start = Clock::now();
  EXPECT_FALSE(event.Wait(50));
  EXPECT_GE(ElapsedMs(start), 45);

  event.Set();
  event.Set();  // a second Set changes nothing
  for (int i = 0; i < 3; ++i) {
    start = Clock::now();
    EXPECT_TRUE(event.Wait(10000));
    EXPECT_LT(ElapsedMs(start), 50);
  }
  EXPECT_TRUE(event.IsSet());
}

TEST(ManualResetEventTest, SetFromAnotherThreadWakesAWaiterQuickly) {
  ManualResetEvent event;
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    event.Set();
  });
  const auto start = Clock::now();
  EXPECT_TRUE(event.Wait(-1));
  EXPECT_LT(ElapsedMs(start), 1000);
  setter.join();
}

TEST(ManualResetEventTest, DescriptorBecomesReadableOnceSetAndStaysReadable) {
  ManualResetEvent event;
  pollfd pfd{event.fd(), POLLIN, 0};
  EXPECT_EQ(poll(&pfd, 1, 0), 0);
  event.Set();
  for (int i = 0; i < 2; ++i) {
    pfd.revents = 0;
    EXPECT_EQ(poll(&pfd, 1, 0), 1);
    EXPECT_TRUE(pfd.revents & POLLIN);
  }
}

}  // namespace
}  // namespace callsink
