// Store-and-forward end to end: the collector, acdsim and a private MariaDB
// when the database is away, full, or its data deleted, when the collector
// is stopped or killed while it applies a backlog, and when its journal is
// torn or full. Whatever happens, each table holds each message's rows once.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "health/scraped_metrics.h"
#include "tests/e2e/collector_system.h"
#include "tests/e2e/expected_store.h"
#include "tests/e2e/table_rows.h"
#include "tests/support/sql_client.h"
#include "worker/journal.h"
#include "worker/segment_reader.h"

namespace callsink::test {
namespace {

using Messages = std::vector<std::vector<uint8_t>>;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::vector<std::string> SimFlags(const std::string& seed, const std::string& rate,
                                  const std::string& events) {
  return {"--groups",
          "4",
          "--agents",
          "30",
          "--rate",
          rate,
          "--events",
          events,
          "--seed",
          seed,
          "--start-time",
          "3000000000",
          "--directory-changes",
          "40"};
}

// Events the centre has produced so far: sent on a connection or missed.
size_t EventsOf(const std::string& record_file) {
  size_t events = 0;
  for (const char* direction : {"out", "missed"}) {
    for (const auto& line : CollectorSystem::RecordLines(record_file, direction)) {
      events += line[4] == "2";
    }
  }
  return events;
}

// How many messages each pass of a server's journal holds, oldest first
// (what was pruned is not counted).
std::vector<size_t> JournaledPasses(const std::string& folder) {
  std::vector<std::string> segments;
  for (const auto& file : std::filesystem::directory_iterator(folder)) {
    if (file.path().extension() == ".seg") segments.push_back(file.path());
  }
  std::sort(segments.begin(), segments.end());
  std::vector<size_t> passes;
  for (const std::string& segment : segments) {
    SegmentReader reader;
    EXPECT_TRUE(reader.Open(segment));
    journal::RecordHeader header{};
    std::span<const uint8_t> payload;
    while (reader.Next(&header, &payload) == SegmentReader::Result::kRecord) {
      if (header.kind == journal::EntryKind::kPassStart) {
        passes.push_back(0);
      } else if (!passes.empty()) {
        ++passes.back();
      }
    }
  }
  return passes;
}

ExpectedStore Replayed(const std::vector<const Messages*>& passes) {
  ExpectedStore store;
  for (size_t i = 0; i < passes.size(); ++i) {
    if (i > 0) store.ClearDirectory();
    for (const auto& message : *passes[i]) store.Apply(message);
  }
  return store;
}

// Calls that the first k messages leave, for k from 0 to all of them.
std::vector<size_t> PrefixCalls(const Messages& messages) {
  std::vector<size_t> calls = {0};
  ExpectedStore store;
  for (const auto& message : messages) {
    store.Apply(message);
    calls.push_back(store.Calls().size());
  }
  return calls;
}

// Tries every k whose calls fit and says whether the expectation built for
// one of them is what the tables hold.
bool SomeCutMatches(const TableRows& actual, const std::vector<size_t>& prefix_calls,
                    const std::function<size_t(size_t)>& calls_for,
                    const std::function<ExpectedStore(size_t)>& expected_for) {
  for (size_t k = 0; k < prefix_calls.size(); ++k) {
    if (calls_for(k) == actual.calls.size() && TableRows::Of(expected_for(k)) == actual) {
      return true;
    }
  }
  return false;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { CALLSINK_REQUIRE_MARIADB(system_.database_if_started()); }

  // Waits until the collector has made its tables (again).
  static bool HasTables(SqlClient& sql) {
    return WaitUntil(30000, [&] {
      return sql.Value(
                 "select count(*) from information_schema.tables where "
                 "table_schema='acd_db'") == "8";
    });
  }

  // Waits until the server's centre has produced `events` and its rows have
  // stood still for 2 s; returns them.
  TableRows Settled(const CollectorSystem::AcdSim& sim, size_t events) {
    EXPECT_TRUE(WaitUntil(60000, [&] { return EventsOf(sim.record_file) >= events; }));
    SqlClient sql(system_.database_env());
    EXPECT_TRUE(HasTables(sql));
    TableRows rows = TableRows::Read(sql, sim.address);
    auto last_change = steady_clock::now();
    WaitUntil(60000, [&] {
      std::this_thread::sleep_for(milliseconds(250));
      TableRows now = TableRows::Read(sql, sim.address);
      if (!(now == rows)) {
        rows = std::move(now);
        last_change = steady_clock::now();
      }
      return steady_clock::now() - last_change > milliseconds(2000);
    });
    return rows;
  }

  void Start(const std::vector<CollectorSystem::AcdSim*>& sims) {
    std::vector<CollectorSystem::Config> configs;
    for (auto* sim : sims) configs.push_back({sim->address, sim->port});
    system_.WriteConfigs(configs);
    system_.StartCollector();
  }

  CollectorSystem system_;
};

TEST_F(JournalTest, AFullTableIsWaitedOutAndNothingIsDropped) {
  auto* sim = system_.StartAcdSim("127.0.0.50", SimFlags("3", "200", "3000"));
  ASSERT_NE(sim, nullptr);
  Start({sim});
  SqlClient sql(system_.database_env());
  ASSERT_TRUE(HasTables(sql));
  ASSERT_TRUE(WaitUntil(10000, [&] { return !TableRows::Read(sql, sim->address).calls.empty(); }));
  ASSERT_TRUE(
      sql.Exec("create trigger acd_db.full_table before insert on acd_db.stock_calls for each row "
               "signal sqlstate 'HY000' set MYSQL_ERRNO = 1114, MESSAGE_TEXT = 'The table "
               "''stock_calls'' is full'"));
  ASSERT_TRUE(WaitUntil(5000, [&] {
    return system_.CountInLog(sim->address, "Database writes stopped (1114: ") == 1;
  }));
  // Past the first retry at once and the one 10 s later: still one line,
  // and the session stays.
  std::this_thread::sleep_for(milliseconds(11000));
  EXPECT_EQ(system_.CountInLog(sim->address, "Database writes stopped ("), 1);
  EXPECT_EQ(system_.Status(1), "Y-Y");
  ASSERT_TRUE(sql.Exec("drop trigger acd_db.full_table"));

  // The next retry (at most 10 s on) applies everything.
  ASSERT_TRUE(WaitUntil(30000, [&] { return EventsOf(sim->record_file) >= 3000; }));
  const Messages messages = ExpectedStore::RecordMessages(sim->record_file, "1");
  const TableRows wanted = TableRows::Of(Replayed({&messages}));
  TableRows rows;
  EXPECT_TRUE(WaitUntil(20000, [&] {
    return (rows = TableRows::Read(sql, sim->address)) == wanted;
  })) << system_.WorkerLog(sim->address);
  ExpectSameRows(rows, wanted);
}

TEST_F(JournalTest, StopAndKillDuringAReplayAndATornTailLeaveEveryMessageAppliedOnce) {
  auto* sim = system_.StartAcdSim("127.0.0.51", SimFlags("9", "3000", "45000"));
  ASSERT_NE(sim, nullptr);
  ASSERT_TRUE(system_.database().Stop());
  Start({sim});
  EXPECT_TRUE(WaitUntil(5000, [&] { return system_.Status(1) == "Y-N"; }));
  ASSERT_TRUE(WaitUntil(40000, [&] { return EventsOf(sim->record_file) >= 45000; }));
  std::this_thread::sleep_for(milliseconds(300));
  ASSERT_TRUE(system_.database().Restart());

  // A stop while the backlog is being applied ends the collector at once.
  SqlClient sql(system_.database_env());
  ASSERT_TRUE(HasTables(sql));
  auto calls = [&] { return TableRows::Read(sql, sim->address).calls.size(); };
  ASSERT_TRUE(WaitUntil(20000, [&] { return calls() > 0; }));
  const auto stop_at = steady_clock::now();
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
  EXPECT_LT(steady_clock::now() - stop_at, milliseconds(2000));
  const size_t after_stop = calls();

  // The next start goes on from there; killed in the middle of a batch, with
  // a record torn in half at the journal's end.
  system_.StartCollector();
  ASSERT_TRUE(WaitUntil(20000, [&] { return calls() > after_stop; }));
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(system_.StopCollector(SIGKILL, 2000), std::optional<int>(128 + SIGKILL));
  std::string newest;
  for (const auto& file :
       std::filesystem::directory_iterator(system_.JournalFolder(sim->address))) {
    if (file.path().extension() == ".seg" && file.path().string() > newest) newest = file.path();
  }
  std::ofstream(newest, std::ios::app | std::ios::binary) << std::string(40, '\x7f');

  system_.StartCollector();
  const TableRows rows = Settled(*sim, 45000);
  const Messages first = ExpectedStore::RecordMessages(sim->record_file, "1");
  const Messages second = ExpectedStore::RecordMessages(sim->record_file, "2");
  const Messages third = ExpectedStore::RecordMessages(sim->record_file, "3");
  EXPECT_LT(after_stop, rows.calls.size()) << "the stop came after the replay";
  ExpectSameRows(rows, TableRows::Of(Replayed({&first, &second, &third})));
  EXPECT_EQ(system_.CountInLog(sim->address, "bytes dropped"), 1)
      << system_.WorkerLog(sim->address);
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

TEST_F(JournalTest, AFullJournalDropsTheLinkUntilTheBacklogIsApplied) {
  system_.SetServiceValue("JournalCapMiB", "1");
  auto* sim = system_.StartAcdSim("127.0.0.52", SimFlags("4", "2500", "40000"));
  ASSERT_NE(sim, nullptr);
  ASSERT_TRUE(system_.database().Stop());
  Start({sim});
  ASSERT_TRUE(WaitUntil(20000, [&] {
    return system_.CountInLog(sim->address, "Journal full (") == 1;
  })) << system_.WorkerLog(sim->address);
  // The link is down; the state says so when the next pass begins.
  EXPECT_TRUE(WaitUntil(13000, [&] { return system_.Status(1) == "N-N"; }));
  ASSERT_TRUE(WaitUntil(
      5000, [&] { return !CollectorSystem::RecordLines(sim->record_file, "missed").empty(); }));
  ASSERT_TRUE(system_.database().Restart());
  ASSERT_TRUE(WaitUntil(30000, [&] {
    return CollectorSystem::RecordConnections(sim->record_file).count("2") > 0;
  })) << system_.WorkerLog(sim->address);

  // Every message journaled before the cap, then the next pass: some first
  // part of the first connection's messages, none twice.
  const TableRows rows = Settled(*sim, 40000);
  const Messages first = ExpectedStore::RecordMessages(sim->record_file, "1");
  const Messages second = ExpectedStore::RecordMessages(sim->record_file, "2");
  const size_t second_calls = Replayed({&second}).Calls().size();
  const std::vector<size_t> prefix = PrefixCalls(first);
  EXPECT_TRUE(SomeCutMatches(
      rows, prefix, [&](size_t k) { return prefix[k] + second_calls; },
      [&](size_t k) {
        const Messages journaled(first.begin(), first.begin() + static_cast<long>(k));
        return Replayed({&journaled, &second});
      }));
  EXPECT_EQ(system_.CountInLog(sim->address, "Journal full ("), 1);
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

// Stops mid-stream at a high rate, with the database away so that the
// journal keeps every pass: each stop keeps in the journal every message
// read before it (only what was still in the socket is not), and once the
// database is back the tables hold exactly those, each once.
TEST_F(JournalTest, AStopKeepsEveryMessageReadBeforeIt) {
  auto* sim = system_.StartAcdSim("127.0.0.55", SimFlags("12", "2000", "40000"));
  ASSERT_NE(sim, nullptr);
  ASSERT_TRUE(system_.database().Stop());
  Start({sim});
  const std::string folder = system_.JournalFolder(sim->address);
  constexpr size_t kStops = 3;
  std::vector<size_t> read;
  for (size_t stop = 0; stop < kStops; ++stop) {
    double messages = 0;
    ASSERT_TRUE(WaitUntil(10000, [&] {
      messages = ScrapedMetrics::Parse(system_.ScrapeMetrics())
                     .Sum("callsink_messages_received_total", {});
      return messages > 2000;
    }));
    ASSERT_EQ(system_.StopCollector(SIGTERM, 5000), std::optional<int>(0));
    read.push_back(static_cast<size_t>(messages));
    system_.StartCollector();
  }
  ASSERT_TRUE(WaitUntil(5000, [&] { return system_.Status(1) == "Y-N"; }));
  const std::vector<size_t> journaled = JournaledPasses(folder);
  ASSERT_GE(journaled.size(), kStops);
  for (size_t pass = 0; pass < kStops; ++pass) {
    EXPECT_GE(journaled[pass], read[pass]) << "pass " << pass + 1;
  }

  ASSERT_TRUE(system_.database().Restart());
  const TableRows rows = Settled(*sim, 40000);
  std::vector<Messages> passes;
  for (size_t pass = 0; pass <= kStops; ++pass) {
    Messages messages = ExpectedStore::RecordMessages(sim->record_file, std::to_string(pass + 1));
    if (pass < kStops) messages.resize(journaled[pass]);
    passes.push_back(std::move(messages));
  }
  ExpectSameRows(rows, TableRows::Of(Replayed({&passes[0], &passes[1], &passes[2], &passes[3]})));
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

// The journals on a file system of 384 KiB (a tmpfs in a mount namespace of
// the test's own), the database away while the stream fills it, and the
// collector killed and started again meanwhile: once the backlog is applied
// the journal gives its space back, and the link comes back and stays up to
// the end of the stream.
TEST_F(JournalTest, AJournalThatFilledItsDiskGivesTheSpaceBackAndCollectionGoesOn) {
  auto* sim = system_.StartAcdSim("127.0.0.56", SimFlags("13", "400", "16000"));
  ASSERT_NE(sim, nullptr);
  const std::string spool = std::filesystem::path(system_.JournalFolder("x")).parent_path();
  std::filesystem::create_directories(spool);
  ChildProcess holder("/usr/bin/unshare",
                      {"--mount", "--propagation", "private", "/bin/sh", "-c",
                       "mount -t tmpfs -o size=384k,mode=0700 callsink-spool \"$0\" && exec "
                       "sleep 600",
                       spool});
  const std::string pid = std::to_string(holder.pid());
  ASSERT_TRUE(WaitUntil(5000, [&] {
    return TempDir::ReadFile("/proc/" + pid + "/mountinfo").find(" " + spool + " ") !=
           std::string::npos;
  })) << "no tmpfs in a mount namespace (needs root)";
  const std::vector<std::string> in_namespace = {"/usr/bin/nsenter", "-t", pid, "-m", "--"};
  ASSERT_TRUE(system_.database().Stop());
  system_.WriteConfigs({{sim->address, sim->port}});
  system_.StartCollector({}, in_namespace);
  ASSERT_TRUE(WaitUntil(20000, [&] {
    return system_.CountInLog(sim->address, "Journal cannot be written (") == 1;
  })) << system_.WorkerLog(sim->address);
  // The link is dropped: the state says so at once.
  EXPECT_TRUE(WaitUntil(2000, [&] { return system_.Status(1) == "N-N"; }));

  // Killed with its disk full, then started again with the database back.
  EXPECT_EQ(system_.StopCollector(SIGKILL, 2000), std::optional<int>(128 + SIGKILL));
  ASSERT_TRUE(system_.database().Restart());
  system_.StartCollector({}, in_namespace);
  ASSERT_TRUE(WaitUntil(30000, [&] {
    return system_.CountInLog(sim->address, "its space given back") >= 1;
  })) << system_.WorkerLog(sim->address);
  EXPECT_TRUE(WaitUntil(15000, [&] { return system_.Status(1) == "Y-Y"; }));
  const int failed_writes = system_.CountInLog(sim->address, "write failed (");
  const std::set<std::string> connections = CollectorSystem::RecordConnections(sim->record_file);

  // From here to the end of the stream (about 25 s): no further failure,
  // the same connection, every message of it in the tables.
  const TableRows rows = Settled(*sim, 16000);
  EXPECT_EQ(system_.CountInLog(sim->address, "write failed ("), failed_writes)
      << system_.WorkerLog(sim->address);
  EXPECT_EQ(CollectorSystem::RecordConnections(sim->record_file), connections);
  const Messages last = ExpectedStore::RecordMessages(
      sim->record_file,
      *std::max_element(connections.begin(), connections.end(),
                        [](const auto& a, const auto& b) { return std::stoi(a) < std::stoi(b); }));
  const std::vector<std::string> last_cdrs = Replayed({&last}).Cdrs();
  ASSERT_GT(last_cdrs.size(), 100u);
  ASSERT_GE(rows.cdrs.size(), last_cdrs.size());
  EXPECT_EQ(std::vector<std::string>(rows.cdrs.end() - static_cast<long>(last_cdrs.size()),
                                     rows.cdrs.end()),
            last_cdrs);
  EXPECT_EQ(system_.Status(1), "Y-Y");
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

// The manager's deletion of one server's rows, then of the whole database,
// while the collector runs: from the deletion on, each server's tables
// hold what a collector that wrote message by message would have written,
// and no message committed before it comes back.
TEST_F(JournalTest, DataDeletedWhileCollectingIsNeverWrittenAgain) {
  auto* deleted = system_.StartAcdSim("127.0.0.53", SimFlags("6", "300", "3000"));
  auto* dropped = system_.StartAcdSim("127.0.0.54", SimFlags("7", "300", "9000"));
  ASSERT_NE(deleted, nullptr);
  ASSERT_NE(dropped, nullptr);
  Start({deleted, dropped});
  {
    SqlClient sql(system_.database_env());
    ASSERT_TRUE(HasTables(sql));
    ASSERT_TRUE(
        WaitUntil(20000, [&] { return TableRows::Read(sql, deleted->address).calls.size() > 20; }));
    // The manager's seven deletions, taken as one step against the
    // collector's batches.
    ASSERT_TRUE(sql.Exec(
        "lock tables acd_db.stock_groups write, acd_db.stock_agents write, acd_db.stock_relations "
        "write, acd_db.stock_calls write, acd_db.stock_cdr write, acd_db.stock_status write, "
        "acd_db.stock_time write"));
    for (const char* table : {"stock_groups", "stock_agents", "stock_relations", "stock_calls",
                              "stock_cdr", "stock_status", "stock_time"}) {
      ASSERT_TRUE(sql.Exec(std::string("delete from acd_db.") + table + " where Serv_Name=\"" +
                           deleted->address + "\""));
    }
    ASSERT_TRUE(sql.Exec("unlock tables"));
  }
  auto after_cut = [](const Messages& messages) {
    return [&messages](size_t k) {
      ExpectedStore store;
      for (size_t i = 0; i < messages.size(); ++i) {
        if (i == k) store.DeleteServerData();
        store.Apply(messages[i]);
      }
      return store;
    };
  };
  const TableRows deleted_rows = Settled(*deleted, 3000);
  const Messages deleted_messages = ExpectedStore::RecordMessages(deleted->record_file, "1");
  const std::vector<size_t> deleted_prefix = PrefixCalls(deleted_messages);
  EXPECT_TRUE(SomeCutMatches(
      deleted_rows, deleted_prefix,
      [&](size_t k) { return deleted_prefix.back() - deleted_prefix[k]; },
      after_cut(deleted_messages)));

  SqlClient sql(system_.database_env());
  ASSERT_TRUE(sql.Exec("drop database acd_db"));
  const TableRows rows = Settled(*dropped, 9000);
  const Messages dropped_messages = ExpectedStore::RecordMessages(dropped->record_file, "1");
  const std::vector<size_t> dropped_prefix = PrefixCalls(dropped_messages);
  EXPECT_TRUE(SomeCutMatches(
      rows, dropped_prefix, [&](size_t k) { return dropped_prefix.back() - dropped_prefix[k]; },
      after_cut(dropped_messages)));
  EXPECT_EQ(TableRows::Read(sql, deleted->address), TableRows{});
  EXPECT_EQ(system_.CountInLog(dropped->address, "Journal position 0 of journal 0000000000000000"),
            1)
      << system_.WorkerLog(dropped->address);
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

}  // namespace
}  // namespace callsink::test
