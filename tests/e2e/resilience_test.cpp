// The collector when its peers misbehave: a database or ACD server that is
// down, goes away or hangs, and every fault acdsim can inject.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "tests/e2e/collector_system.h"
#include "tests/e2e/expected_store.h"
#include "tests/e2e/table_rows.h"
#include "tests/support/sql_client.h"

namespace callsink::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A TCP listener on 127.0.0.1 that never accepts: connects complete in the
// kernel's backlog and then hear nothing, like a hung server.
class SilentListener {
 public:
  SilentListener() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 16);
    socklen_t size = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

// A port on 127.0.0.1 with nobody listening.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// A network of its own for the calling thread and the processes it starts:
// a fresh namespace whose loopback can be switched off, which makes every
// peer on it vanish without a word, as a host that lost power does. The
// thread returns to its previous network when the object goes away.
class PrivateNetwork {
 public:
  PrivateNetwork() : previous_(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (previous_ < 0 || unshare(CLONE_NEWNET) != 0) return;
    control_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    entered_ = control_ >= 0 && SetLoopback(true);
  }
  ~PrivateNetwork() {
    if (control_ >= 0) close(control_);
    if (previous_ >= 0) {
      EXPECT_EQ(setns(previous_, CLONE_NEWNET), 0);
      close(previous_);
    }
  }
  bool entered() const { return entered_; }
  bool SetLoopback(bool up) {
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (ioctl(control_, SIOCGIFFLAGS, &request) != 0) return false;
    request.ifr_flags =
        static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
    return ioctl(control_, SIOCSIFFLAGS, &request) == 0;
  }

 private:
  const int previous_;
  int control_ = -1;
  bool entered_ = false;
};

class ResilienceTest : public ::testing::Test {
 protected:
  void SetUp() override { CALLSINK_REQUIRE_MARIADB(system_.database_if_started()); }

  bool LogShows(const std::string& server, const std::string& text, int timeout_ms) {
    return WaitUntil(timeout_ms, [&] { return system_.CountInLog(server, text) > 0; });
  }
  // Starts acdsim on `server` with `flags`, one configuration for it and the
  // collector; true once the worker reports "Y-Y".
  bool CollectFrom(const std::string& server, const std::vector<std::string>& flags) {
    auto* sim = system_.StartAcdSim(server, flags);
    if (sim == nullptr) return false;
    system_.WriteConfigs({{server, sim->port}});
    system_.StartCollector();
    return WaitUntil(10000, [&] { return system_.Status(1) == "Y-Y"; });
  }
  int Rows(SqlClient& sql, const std::string& table, const std::string& server) {
    return std::stoi(
        sql.Value("select count(*) from acd_db." + table + " where Serv_Name='" + server + "'"));
  }

  CollectorSystem system_;
};

TEST_F(ResilienceTest, DatabaseDownAtStartKeepsTheAcdLinkAndTriesEveryTenSeconds) {
  const std::string server = "127.0.0.31";
  auto* sim = system_.StartAcdSim(server, {"--rate", "200"});
  ASSERT_NE(sim, nullptr);
  system_.WriteConfigs({{server, sim->port}});
  ASSERT_TRUE(system_.database().Stop());
  system_.StartCollector();

  ASSERT_TRUE(LogShows(server, "Connect to DB failed: ", 5000));
  const auto first_failure = steady_clock::now();
  // The reader keeps the ACD link whatever the database does.
  EXPECT_TRUE(WaitUntil(3000, [&] { return system_.Status(1) == "Y-N"; }));
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_EQ(system_.CountInLog(server, "Connect to DB failed: "), 1) << "retried too soon";
  EXPECT_FALSE(CollectorSystem::RecordLines(sim->record_file, "in").empty());

  ASSERT_TRUE(system_.database().Restart());
  ASSERT_TRUE(WaitUntil(15000, [&] { return system_.Status(1) == "Y-Y"; }))
      << system_.WorkerLog(server);
  // The retry came with the next 10 s slice, not before.
  EXPECT_GE(steady_clock::now() - first_failure, milliseconds(9000));
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

TEST_F(ResilienceTest, TableStepRetriesReachARestartedServerAndSeeALaterGrant) {
  const std::string server = "127.0.0.32";
  auto* sim = system_.StartAcdSim(server, {"--rate", "50"});
  ASSERT_NE(sim, nullptr);
  const MariaDbEnv& db = system_.database_env();
  SqlClient(db).Exec("create database acd_db");
  // A user who may write the tables but not create them.
  system_.WriteConfigs({{server, sim->port, "localhost", db.limited_user, db.limited_password}});
  system_.StartCollector();
  ASSERT_TRUE(LogShows(server, "Table creation failed: CREATE command denied", 5000))
      << system_.WorkerLog(server);

  ASSERT_TRUE(system_.database().Restart());
  SqlClient(db).Exec("grant create on acd_db.* to '" + db.limited_user + "'@'localhost'");
  // The retries come every 10 s; two of them at most.
  EXPECT_TRUE(WaitUntil(25000, [&] { return system_.Status(1) == "Y-Y"; }))
      << system_.WorkerLog(server);
  EXPECT_EQ(system_.CountInLog(server, "gone away"), 0) << "a retry on the old session";
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

TEST_F(ResilienceTest, ASecondCollectorOnTheSameStoreRefusesToStartAndTheFirstGoesOn) {
  const std::string server = "127.0.0.39";
  ASSERT_TRUE(CollectFrom(server, {"--rate", "50"}));

  const std::string output = system_.folder() + "/second.out";
  ChildProcess second(system_.folder() + "/app/callsink", {}, system_.CollectorEnvironment(),
                      system_.folder(), output);
  EXPECT_EQ(second.WaitExit(5000), std::optional<int>(1));
  const std::string refusal = "Another collector runs on the configuration store in " +
                              system_.folder() + "/root/var/lib/callsink, this one does not start";
  EXPECT_EQ(TempDir::ReadFile(output), "callsink: " + refusal + "\n");
  EXPECT_EQ(system_.CountInLog("common", refusal), 1);
  EXPECT_EQ(system_.CountInLog(server, "Connected to ACD server"), 1);
  EXPECT_TRUE(system_.collector()->Running());
}

TEST_F(ResilienceTest, AServerWhoseHostVanishesIsGivenUpWithinTwoMinutes) {
  PrivateNetwork network;
  ASSERT_TRUE(network.entered()) << "no network namespace: " << std::strerror(errno);
  const std::string server = "127.0.0.41";
  ASSERT_TRUE(CollectFrom(server, {"--events", "0"}));  // answers, then stays silent

  ASSERT_TRUE(network.SetLoopback(false));
  const auto vanished = steady_clock::now();
  ASSERT_TRUE(WaitUntil(150000, [&] { return system_.CountInLog(server, "Receive Failed") > 0; }))
      << system_.WorkerLog(server);
  EXPECT_GT(steady_clock::now() - vanished, std::chrono::seconds(60)) << "keep-alive, no guess";
  EXPECT_TRUE(WaitUntil(15000, [&] { return system_.Status(1) != "Y-Y"; }));
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

TEST_F(ResilienceTest, AcdServerDownKeepsTheDatabaseAndRetriesEveryTenSeconds) {
  const std::string server = "127.0.0.1";
  system_.WriteConfigs({{server, ClosedPort()}});
  system_.StartCollector();
  const std::string failure = "Unable to connect to acd server (127.0.0.1)!";
  ASSERT_TRUE(LogShows(server, failure, 5000));
  EXPECT_TRUE(WaitUntil(3000, [&] { return system_.Status(1) == "N-Y"; }));
  std::this_thread::sleep_for(milliseconds(5000));
  EXPECT_EQ(system_.CountInLog(server, failure), 1);
  ASSERT_TRUE(WaitUntil(7000, [&] { return system_.CountInLog(server, failure) == 2; }));
  EXPECT_EQ(system_.Status(1), "N-Y");
  EXPECT_EQ(system_.StopCollector(SIGHUP, 2000), std::optional<int>(0));
}

TEST_F(ResilienceTest, ClosedConnectionStartsANewPassThatRefillsOnlyThisServersDirectory) {
  const std::string server = "127.0.0.33";
  auto* sim = system_.StartAcdSim(server, {"--rate", "100", "--close-after", "120"});
  ASSERT_NE(sim, nullptr);
  system_.WriteConfigs({{server, sim->port}});
  system_.StartCollector();
  ASSERT_TRUE(WaitUntil(10000, [&] { return system_.Status(1) == "Y-Y"; }));
  SqlClient sql(system_.database_env());
  // Another server's directory, which this worker must never touch.
  sql.Exec(
      "insert into acd_db.stock_groups (Serv_Name, Group_Name, Modified) values "
      "('10.9.9.9', 'Other', 1)");
  sql.Exec("insert into acd_db.stock_agents (Serv_Name, Agent_Name) values ('10.9.9.9', 'a')");
  sql.Exec(
      "insert into acd_db.stock_relations (Serv_Name, Group_Name, Agent_Name) values "
      "('10.9.9.9', 'Other', 'a')");
  // "Y-Y" says both links are up; the applier may not have written the
  // directory yet.
  std::string first_ids;
  ASSERT_TRUE(WaitUntil(5000, [&] {
    first_ids =
        sql.Value("select min(ID) from acd_db.stock_groups where Serv_Name='" + server + "'");
    return first_ids != "NULL";
  }));

  ASSERT_TRUE(LogShows(server, "Connection Closed Remotely", 10000));
  EXPECT_EQ(system_.Status(1), "Y-Y") << "the state stays during the pause";
  ASSERT_TRUE(WaitUntil(13000, [&] {
    return system_.CountInLog(server, "Connected to ACD server (127.0.0.33)") == 2;
  }));
  // The directory was deleted and written anew, in one transaction: new
  // rows, counted from 1.
  EXPECT_TRUE(WaitUntil(5000, [&] {
    const std::string ids =
        sql.Value("select min(ID) from acd_db.stock_groups where Serv_Name='" + server + "'");
    return ids != "NULL" && std::stoi(ids) > std::stoi(first_ids);
  }));
  EXPECT_EQ(Rows(sql, "stock_groups", "10.9.9.9"), 1);
  EXPECT_EQ(Rows(sql, "stock_agents", "10.9.9.9"), 1);
  EXPECT_EQ(Rows(sql, "stock_relations", "10.9.9.9"), 1);
  int get_groups = 0;
  for (const auto& line : CollectorSystem::RecordLines(sim->record_file, "in")) {
    get_groups += line[4] == "0" && line[5] == "5";
  }
  EXPECT_EQ(get_groups, 2) << "the directory is asked for again";
}

// The database killed for 12 s and hung for 40 s in the middle of a stream:
// the ACD link stays up all along (one connection, nothing missed), the
// state says "Y-N" meanwhile, each outage is one log line, and afterwards
// every table holds exactly what the server sent.
TEST_F(ResilienceTest, DatabaseKilledAndHungMidStreamLosesNothing) {
  const std::string server = "127.0.0.34";
  auto* sim = system_.StartAcdSim(
      server, {"--groups", "3", "--agents", "12", "--rate", "100", "--events", "6500",
               "--start-time", "3000000000", "--seed", "5", "--directory-changes", "30"});
  ASSERT_NE(sim, nullptr);
  system_.WriteConfigs({{server, sim->port}});
  system_.StartCollector();
  ASSERT_TRUE(WaitUntil(10000, [&] { return system_.Status(1) == "Y-Y"; }));
  int calls_before = 0;
  {
    SqlClient sql(system_.database_env());
    ASSERT_TRUE(
        WaitUntil(5000, [&] { return (calls_before = Rows(sql, "stock_calls", server)) > 5; }));
  }
  // Polls the state for `timeout_ms`; whether it said "Y-N" meanwhile.
  auto saw_acd_only = [&](int timeout_ms) {
    bool seen = false;
    WaitUntil(timeout_ms, [&] {
      seen = seen || system_.Status(1) == "Y-N";
      return false;
    });
    return seen;
  };

  ASSERT_TRUE(system_.database().Kill());
  EXPECT_TRUE(saw_acd_only(12000));
  ASSERT_TRUE(system_.database().Restart());
  ASSERT_TRUE(WaitUntil(15000, [&] { return system_.Status(1) == "Y-Y"; }));
  {
    // The first outage ends with the first batch written after it.
    SqlClient sql(system_.database_env());
    ASSERT_TRUE(WaitUntil(5000, [&] { return Rows(sql, "stock_calls", server) > calls_before; }));
  }
  ASSERT_TRUE(system_.database().Pause());
  const bool hung_seen = saw_acd_only(40000);
  ASSERT_TRUE(system_.database().Resume());
  EXPECT_TRUE(hung_seen);

  SqlClient sql(system_.database_env());
  ExpectedStore expected;
  TableRows actual;
  EXPECT_TRUE(WaitUntil(60000, [&] {
    expected = ExpectedStore();
    expected.ApplyRecord(sim->record_file, "1");
    actual = TableRows::Read(sql, server);
    return expected.events() == 6500 && actual == TableRows::Of(expected);
  })) << system_.WorkerLog(server);
  ExpectSameRows(actual, TableRows::Of(expected));
  EXPECT_EQ(CollectorSystem::RecordConnections(sim->record_file), std::set<std::string>{"1"});
  EXPECT_TRUE(CollectorSystem::RecordLines(sim->record_file, "missed").empty());
  EXPECT_EQ(system_.CountInLog(server, "Database writes stopped ("), 2)
      << system_.WorkerLog(server);
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

TEST_F(ResilienceTest, StopEndsTheProcessWhileWorkersAreBlockedAnywhere) {
  SilentListener hung_database;
  auto* quiet = system_.StartAcdSim("127.0.0.35", {"--events", "0"});
  auto* deaf = system_.StartAcdSim("127.0.0.36", {"--stop-reading", "1"});
  ASSERT_NE(quiet, nullptr);
  ASSERT_NE(deaf, nullptr);
  system_.WriteConfigs({
      {"127.0.0.35", quiet->port},     // waits in a receive
      {"127.0.0.36", deaf->port},      // its requests pile up unread
      {"127.0.0.1", ClosedPort()},     // waits 10 s between ACD connects
      {"127.0.0.37", 1, "127.0.0.1"},  // database connect that hangs
      {"127.0.0.38", 1, "127.0.0.2"},  // database refused: 10 s wait
  });
  for (int stop_signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(stop_signal);
    system_.StartCollector({"MYSQL_TCP_PORT=" + std::to_string(hung_database.port())});
    ASSERT_TRUE(WaitUntil(5000, [&] {
      return system_.Status(1) == "Y-Y" && system_.Status(2) == "Y-Y" &&
             system_.Status(3) == "N-Y" && system_.CountInLog("127.0.0.38", "Connect to DB") > 0;
    }));
    std::this_thread::sleep_for(milliseconds(300));
    const auto stop_at = steady_clock::now();
    EXPECT_EQ(system_.StopCollector(stop_signal, 2000), std::optional<int>(0));
    EXPECT_LT(steady_clock::now() - stop_at, milliseconds(2000));
    EXPECT_EQ(system_.CountInLog("common", "Exitting run function"),
              stop_signal == SIGTERM ? 1 : 2);
  }
}

struct Fault {
  const char* name;
  std::vector<std::string> flags;
  const char* log_line;  // a line the worker must write; null: none asked for
  bool stores_calls;     // the stream still gets through
};

class FaultTest : public ResilienceTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, CollectorSurvivesAndSaysWhatHappened) {
  const Fault& fault = GetParam();
  const std::string server = "127.0.0.40";
  std::vector<std::string> flags = {"--rate", "500"};
  flags.insert(flags.end(), fault.flags.begin(), fault.flags.end());
  auto* sim = system_.StartAcdSim(server, flags);
  ASSERT_NE(sim, nullptr);
  system_.WriteConfigs({{server, sim->port}});
  system_.StartCollector();
  if (fault.log_line != nullptr) {
    EXPECT_TRUE(LogShows(server, fault.log_line, 5000)) << system_.WorkerLog(server);
  }
  if (fault.stores_calls) {
    SqlClient sql(system_.database_env());
    EXPECT_TRUE(WaitUntil(5000, [&] {
      return system_.Status(1) == "Y-Y" && Rows(sql, "stock_calls", server) > 3;
    })) << system_.WorkerLog(server);
  }
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_TRUE(system_.collector()->Running()) << "the collector must not crash";
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

INSTANTIATE_TEST_SUITE_P(
    AcdSimFaults, FaultTest,
    ::testing::Values(
        Fault{"CloseAfter", {"--close-after", "30"}, "Connection Closed Remotely", false},
        Fault{"SplitRecords", {"--split-records", "7"}, nullptr, true},
        Fault{"LengthBelowHeader",
              {"--bad-length", "19"},
              "Message length 19 out of range (20 to 4096), connection dropped",
              false},
        Fault{"LengthAboveBuffer",
              {"--bad-length", "5000"},
              "Message length 5000 out of range (20 to 4096), connection dropped",
              false},
        Fault{"HeaderOnlyEvents", {"--bad-length", "20"}, "too short (0 bytes), dropped", false},
        Fault{"UnknownMessages", {"--unknown-message", "2:6"}, nullptr, true},
        Fault{"FailedGetGroups", {"--fail-result", "1:5"}, "- GetGroups response ID-", true},
        Fault{"FailedStatusResponse", {"--fail-result", "1:4"}, "- Status FAILURE! -------", true},
        Fault{"FailedCdr", {"--fail-result", "2:1"}, "- CDR FAILURE! ------------------", true},
        Fault{"NamesWithoutNul", {"--names-without-nul"}, nullptr, true},
        Fault{"CountBeyondEntries", {"--count-beyond", "3"}, "entries but holds", true},
        Fault{"ShortBodies", {"--short-bodies", "4"}, "dropped", false},
        Fault{"StopReading", {"--stop-reading", "3"}, nullptr, false}),
    [](const ::testing::TestParamInfo<Fault>& row) { return row.param.name; });

}  // namespace
}  // namespace callsink::test
