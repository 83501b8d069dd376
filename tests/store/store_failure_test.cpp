// The database going away: a stopped, killed, restarted or hung (SIGSTOP)
// server, a listener that never greets and a host that drops connection
// requests. Every call ends within its time limit and leaves the store in a
// state the worker can recover from.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/store/store_server.h"
#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

constexpr MySqlTimeouts kShortTimeouts = {2, 2, 2};
// What a call may take beyond its limit on a busy machine.
constexpr auto kSlack = std::chrono::milliseconds(1500);
constexpr auto kLimit = std::chrono::seconds(2) + kSlack;

// A TCP socket on 127.0.0.2 at the private server's port (the server itself
// listens on 127.0.0.1 only), which never accepts and so never greets. With
// `full` its queue of finished handshakes is filled, so that the kernel drops
// further connection requests as an unreachable host would.
class SilentListener {
 public:
  SilentListener(int port, bool full) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Address(port);
    ok_ = listener_ >= 0 &&
          bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
          listen(listener_, 0) == 0;
    if (ok_ && full) {
      filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      ok_ = connect(filler_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
  }
  ~SilentListener() {
    if (filler_ >= 0) close(filler_);
    if (listener_ >= 0) close(listener_);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  bool ok() const { return ok_; }

 private:
  static sockaddr_in Address(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
    return address;
  }

  int listener_ = -1;
  int filler_ = -1;
  bool ok_ = false;
};

class StoreFailureTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(store_.Connect("localhost", env().admin_user, env().admin_password));
    ASSERT_TRUE(store_.CreateTables(kServer));
    ForgetStatements();
  }

  // The next test finds a running server again.
  void TearDown() override {
    if (paused_) {
      EXPECT_TRUE(server().Resume());
    }
    if (stopped_) {
      EXPECT_TRUE(server().Restart());
    }
    StoreTest::TearDown();
  }

  MariaDbServer& server() { return StoreServer::Get(); }
  void StopServer() {
    stopped_ = true;
    ASSERT_TRUE(server().Stop());
  }
  void KillServer() {
    stopped_ = true;
    ASSERT_TRUE(server().Kill());
  }
  void PauseServer() {
    paused_ = true;
    ASSERT_TRUE(server().Pause());
  }

  // The store under test in these cases: short limits, statements observed.
  AcdDatabase& QuickStore() {
    quick_.SetStatementObserver(
        [this](std::string_view statement) { quick_sent_.emplace_back(statement); });
    return quick_;
  }

  AcdDatabase quick_{&log_, kShortTimeouts};
  std::vector<std::string> quick_sent_;
  int port_ = StoreServer::Get().env() ? StoreServer::Get().env()->port : 0;

 private:
  bool stopped_ = false;
  bool paused_ = false;
};

TEST_F(StoreFailureTest, PingAfterTheServerStoppedReportsItGoneAndDisconnects) {
  StopServer();
  EXPECT_FALSE(store_.Ping());
  EXPECT_FALSE(store_.IsConnected());
  EXPECT_EQ(LogLines().back(), "MySQL server has gone away!");
  // The writers of the message at hand send nothing without a connection.
  EXPECT_FALSE(store_.WriteStatusInterval(kServer, "Sales", "1001", 100, 1));
  EXPECT_FALSE(store_.WriteCall(kServer, "Sales", "1001", "c", 100, 1, 0));
  EXPECT_THAT(Sent(), IsEmpty());
}

TEST_F(StoreFailureTest, PingAfterTheServerWasKilledReportsItGoneAndDisconnects) {
  KillServer();
  EXPECT_FALSE(store_.Ping());
  EXPECT_FALSE(store_.IsConnected());
  EXPECT_EQ(LogLines().back(), "MySQL server has gone away!");
}

TEST_F(StoreFailureTest, RestartedServerNeedsANewStoreAsTheWorkersNextPassMakes) {
  StopServer();
  ASSERT_TRUE(server().Restart());
  EXPECT_FALSE(store_.Ping()) << "the client library must not reconnect by itself";

  AcdDatabase next_pass(&log_);
  ASSERT_TRUE(next_pass.Connect("127.0.0.1", env().admin_user, env().admin_password));
  EXPECT_TRUE(next_pass.CreateTables(kServer));
  EXPECT_TRUE(next_pass.WriteGroup(kServer, "Sales", 100, 1, true, 0));
}

TEST_F(StoreFailureTest, PingAgainstAHungServerEndsWithinTheReadTimeout) {
  AcdDatabase& store = QuickStore();
  ASSERT_TRUE(store.Connect("localhost", env().admin_user, env().admin_password));
  PauseServer();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(store.Ping());
  EXPECT_LT(Clock::now() - start, kLimit);
  EXPECT_FALSE(store.IsConnected());
  EXPECT_EQ(LogLines().back(), "MySQL server has gone away!");
}

TEST_F(StoreFailureTest, StatementAgainstAHungServerEndsWithinTheReadTimeout) {
  AcdDatabase& store = QuickStore();
  ASSERT_TRUE(store.Connect("127.0.0.1", env().admin_user, env().admin_password));
  PauseServer();
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(store.WriteCall(kServer, "Sales", "1001", "c", 100, 1, 0));
  EXPECT_LT(Clock::now() - start, kLimit);
  EXPECT_EQ(LogLines().back(), "Lost connection to server during query");
  EXPECT_EQ(quick_sent_.size(), 1u);

  // The connection is known lost now: the next ping answers at once.
  start = Clock::now();
  EXPECT_FALSE(store.Ping());
  EXPECT_LT(Clock::now() - start, kSlack);
  EXPECT_EQ(LogLines().back(), "MySQL server has gone away!");
}

TEST_F(StoreFailureTest, ConnectToAHungServerEndsWithinTheConnectTimeout) {
  PauseServer();
  for (const char* host : {"localhost", "127.0.0.1"}) {
    AcdDatabase store(&log_, kShortTimeouts);
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(store.Connect(host, env().admin_user, env().admin_password)) << host;
    EXPECT_LT(Clock::now() - start, kLimit) << host;
    EXPECT_FALSE(store.IsConnected());
    EXPECT_THAT(LogLines().back(),
                StartsWith("Connect to DB failed: Lost connection to server at 'handshake: "
                           "reading initial communication packet'"));
  }
}

TEST_F(StoreFailureTest, ConnectToAListenerThatNeverGreetsEndsWithinTheConnectTimeout) {
  const SilentListener listener(port_, false);
  ASSERT_TRUE(listener.ok());
  AcdDatabase& store = QuickStore();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(store.Connect("127.0.0.2", env().admin_user, env().admin_password));
  EXPECT_LT(Clock::now() - start, kLimit);
  EXPECT_THAT(LogLines().back(),
              StartsWith("Connect to DB failed: Lost connection to server at 'handshake: reading "
                         "initial communication packet'"));
  EXPECT_THAT(quick_sent_, IsEmpty());
}

TEST_F(StoreFailureTest, ConnectToAHostThatDropsRequestsEndsWithinTheConnectTimeout) {
  const SilentListener listener(port_, true);
  ASSERT_TRUE(listener.ok());
  AcdDatabase& store = QuickStore();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(store.Connect("127.0.0.2", env().admin_user, env().admin_password));
  const Clock::duration elapsed = Clock::now() - start;
  EXPECT_LT(elapsed, kLimit);
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500)) << "the request should have been dropped";
  EXPECT_EQ(LogLines().back(),
            "Connect to DB failed: Can't connect to server on '127.0.0.2' (110)");
}

TEST_F(StoreFailureTest, ConnectToAHostWithoutServerFailsAtOnce) {
  AcdDatabase& store = QuickStore();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(store.Connect("127.0.0.3", env().admin_user, env().admin_password));
  EXPECT_LT(Clock::now() - start, kSlack);
  EXPECT_THAT(LogLines().back(),
              StartsWith("Connect to DB failed: Can't connect to server on '127.0.0.3'"));
}

}  // namespace
}  // namespace callsink::test
