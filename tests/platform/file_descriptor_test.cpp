#include "platform/file_descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "tests/support/bystanders.h"

namespace callsink {
namespace {

using test::Bystanders;

TEST(FileDescriptorTest, MovingHandsOverTheDescriptorAndResetClosesItOnce) {
  FileDescriptor first(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int number = first.get();
  ASSERT_GE(number, 0);
  FileDescriptor second(std::move(first));
  EXPECT_FALSE(first.valid());
  EXPECT_EQ(second.get(), number);
  second.Reset();
  EXPECT_FALSE(second.valid());
  Bystanders bystanders;
  second.Reset();
  first.Reset();
  EXPECT_TRUE(bystanders.AllOpen());
}

TEST(FileDescriptorTest, AssigningClosesTheDescriptorHeldBefore) {
  FileDescriptor held(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int old_number = held.get();
  held = FileDescriptor(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  EXPECT_LT(fcntl(old_number, F_GETFD), 0);
  EXPECT_GE(fcntl(held.get(), F_GETFD), 0);
}

TEST(FileDescriptorTest, PipeEndsCloseOnExecAndAReleasedEndIsLeftOpen) {
  FileDescriptor read_end;
  FileDescriptor write_end;
  ASSERT_TRUE(FileDescriptor::OpenPipe(&read_end, &write_end));
  EXPECT_EQ(fcntl(read_end.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(fcntl(write_end.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(write(write_end.get(), "x", 1), 1);

  // A released descriptor is the caller's; the owner no longer closes it.
  const int released = write_end.Release();
  EXPECT_FALSE(write_end.valid());
  EXPECT_TRUE(write_end.Reset());
  EXPECT_GE(fcntl(released, F_GETFD), 0);
  close(released);
  char byte = 0;
  EXPECT_EQ(read(read_end.get(), &byte, 1), 1);
  EXPECT_EQ(read(read_end.get(), &byte, 1), 0) << "the write end is closed once, by its caller";
}

}  // namespace
}  // namespace callsink
