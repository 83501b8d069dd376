// The applier against a private MariaDB at the server's default durability
// (innodb_flush_log_at_trx_commit=1: a log flush per commit), in one run:
//
//   backlog  acdsim's working day (10 groups, 100 agents) journaled by the
//            reader, then applied three ways from the same journal:
//            - per event: as the collector did before the journal, message
//              by message, a ping and then each statement on its own
//              (autocommit), through MessageDispatch and AcdDatabase;
//            - batched: JournalApplier, many messages to a transaction;
//            - bare: the statements the batched applier sent, recorded and
//              replayed by a bare mysql_real_query loop on one connection
//              (the most one connection does with the same folded batches).
//            Messages applied per second; the stream is events but for the
//            directory at its start.
//   live     acdsim at 100 and at 1,000 events a second, the reader and the
//            applier running as in the collector for 20 s: the time from
//            receipt to commit of each message after the first 3 s, median
//            and 99th percentile.
//
//   apply_bench [BACKLOG_EVENTS [PER_EVENT_MESSAGES]]   (default 30000 5000)
//
// acdsim comes from CALLSINK_BIN (default build/bin).
#include <mysql.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "store/acd_database.h"
#include "tests/support/child_process.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/temp_dir.h"
#include "worker/acd_reader.h"
#include "worker/journal.h"
#include "worker/journal_applier.h"
#include "worker/link_state.h"
#include "worker/store_writer.h"

namespace callsink {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// One worker's parts, as ServerWorker has them, on a journal of their own.
class Worker {
 public:
  Worker(const test::MariaDbEnv& database, const std::string& server)
      : journal_(
            {folder_ / "journal", uint64_t{1} << 30, Journal::SegmentBytesFor(uint64_t{1} << 30)},
            &log_) {
    journal_.Open();
    config_.acdServer = server;
    config_.mysqlServer = "localhost";
    config_.mysqlUser = database.admin_user;
    config_.mysqlPassword = database.admin_password;
  }

  // Journals acdsim's stream, launched with `flags`, until it has sent
  // `messages` or `seconds` have passed; with `apply` the applier runs
  // meanwhile. acdsim's connection is to 127.0.0.1.
  void Collect(const std::vector<std::string>& flags, uint64_t messages, double seconds,
               bool apply) {
    const std::string output = folder_ / "acdsim.out";
    std::vector<std::string> args = {"--listen", "127.0.0.1:0",  "--groups",   "10",     "--agents",
                                     "100",      "--start-time", "3000000000", "--seed", "1"};
    args.insert(args.end(), flags.begin(), flags.end());
    test::ChildProcess acdsim(Acdsim(), args, {}, {}, output);
    test::WaitUntil(5000, [&] {
      return test::TempDir::ReadFile(output).find("listening") != std::string::npos;
    });
    const std::string text = test::TempDir::ReadFile(output);
    ServerConfig acd = config_;
    acd.acdServer = "127.0.0.1";
    acd.acdPort = std::atoi(text.c_str() + text.rfind(':') + 1);
    ManualResetEvent stop;
    AcdReader reader({acd, &log_, &journal_, &state_, &stats_, &stop});
    JournalApplier applier({config_, &log_, &journal_, &state_, &stats_, &stop});
    std::thread reading([&] { reader.Run(); });
    std::thread applying([&] {
      if (apply) applier.Run();
    });
    const Clock::time_point start = Clock::now();
    while (journal_.durable() < messages && Seconds(start) < seconds) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop.Set();
    reading.join();
    applying.join();
    Count(applier);
  }

  // Applies the whole journal with a JournalApplier for `server`; seconds.
  double ApplyBatched(const std::string& server,
                      AcdDatabase::StatementObserver observer = nullptr) {
    ServerConfig config = config_;
    config.acdServer = server;
    journal_.MarkApplied(0);
    ManualResetEvent stop;
    JournalApplier applier({config, &log_, &journal_, &state_, &stats_, &stop});
    if (observer) applier.SetStatementObserver(std::move(observer));
    const Clock::time_point start = Clock::now();
    std::thread applying([&] { applier.Run(); });
    while (journal_.applied() < journal_.durable()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double seconds = Seconds(start);
    stop.Set();
    applying.join();
    Count(applier);
    return seconds;
  }

  // The first `messages` messages of the journal the way the collector
  // wrote them before it had one; seconds.
  double ApplyPerEvent(const std::string& server, uint64_t messages) {
    AcdDatabase database(&log_);
    database.Connect(config_.mysqlServer, config_.mysqlUser, config_.mysqlPassword);
    database.CreateTables();
    DatabaseWriter writer(&database);
    MessageDispatch dispatch(server, &log_, nullptr, &writer);
    JournalCursor cursor(&journal_);
    JournalEntry entry;
    const Clock::time_point start = Clock::now();
    for (uint64_t i = 0; i < messages && cursor.Next(&entry); ++i) {
      if (entry.kind == journal::EntryKind::kPassStart) {
        database.ClearServer(server);
        continue;
      }
      database.Ping();
      const AcdHeader header =
          HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(entry.payload.data(), 20));
      dispatch.Handle(header, entry.payload.data() + wire::kHeaderSize,
                      entry.payload.size() - wire::kHeaderSize,
                      static_cast<uint32_t>(entry.received_us / 1000000));
    }
    return Seconds(start);
  }

  const WorkerStats& stats() const { return stats_; }
  const Journal& journal() const { return journal_; }
  // Of every applier run so far.
  uint64_t batches_committed() const { return batches_committed_; }
  uint64_t batches_by_statement() const { return batches_by_statement_; }

 private:
  void Count(const JournalApplier& applier) {
    batches_committed_ += applier.batches_committed();
    batches_by_statement_ += applier.batches_by_statement();
  }

  static std::string Acdsim() {
    const char* bin = std::getenv("CALLSINK_BIN");
    return std::filesystem::absolute(std::string(bin != nullptr ? bin : "build/bin") + "/acdsim");
  }

  test::TempDir folder_;
  ActivityLog log_;  // not opened: the lines go nowhere
  Journal journal_;
  WorkerStats stats_;
  LinkState state_{folder_ / "no-registry.db", "Config1", &stats_};
  ServerConfig config_;
  uint64_t batches_committed_ = 0;
  uint64_t batches_by_statement_ = 0;
};

// Replays `statements` on one bare connection; seconds.
double ReplayBare(const std::vector<std::string>& statements, const test::MariaDbEnv& database) {
  MySqlConnection bare;
  bare.Open("localhost", database.admin_user, database.admin_password);
  mysql_select_db(bare.get(), "acd_db");
  const Clock::time_point start = Clock::now();
  for (const std::string& statement : statements) {
    mysql_real_query(bare.get(), statement.data(), statement.size());
    if (MYSQL_RES* result = mysql_store_result(bare.get())) mysql_free_result(result);
  }
  return Seconds(start);
}

using LatencyCounts = std::vector<uint64_t>;

// Apply latency as the worker's figures hold it (not cumulative).
LatencyCounts Counts(const WorkerStats& stats) {
  const WorkerStats::Snapshot figures = stats.Read();
  return {figures.latency_buckets.begin(), figures.latency_buckets.end()};
}

// The `fraction` quantile of `counts` in ms, interpolated within its bucket
// as Prometheus's histogram_quantile does; the bucket's upper bound in
// `bound_ms` (infinity for the last).
double Quantile(const LatencyCounts& counts, double fraction, double* bound_ms) {
  const auto& bounds = WorkerStats::kApplyLatencyBounds;
  uint64_t total = 0;
  for (const uint64_t count : counts) total += count;
  const double rank = fraction * static_cast<double>(total);
  uint64_t seen = 0;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (static_cast<double>(seen + counts[i]) < rank || counts[i] == 0) {
      seen += counts[i];
      continue;
    }
    const double lower = i == 0 ? 0 : bounds[i - 1] * 1000;
    if (i == bounds.size()) {
      *bound_ms = INFINITY;
      return lower;
    }
    *bound_ms = bounds[i] * 1000;
    return lower + (*bound_ms - lower) * (rank - static_cast<double>(seen)) /
                       static_cast<double>(counts[i]);
  }
  *bound_ms = 0;
  return 0;
}

void Live(const test::MariaDbEnv& database, int rate) {
  Worker worker(database, "live" + std::to_string(rate));
  LatencyCounts warm;
  std::thread warming([&] {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    warm = Counts(worker.stats());
  });
  worker.Collect({"--rate", std::to_string(rate)}, UINT64_MAX, 20, true);
  warming.join();
  LatencyCounts counts = Counts(worker.stats());
  for (size_t i = 0; i < counts.size(); ++i) counts[i] -= warm[i];
  uint64_t measured = 0;
  for (const uint64_t count : counts) measured += count;
  double median_bound = 0;
  double p99_bound = 0;
  const double median = Quantile(counts, 0.5, &median_bound);
  const double p99 = Quantile(counts, 0.99, &p99_bound);
  std::printf(
      "live %5d events/s: %6llu messages, receipt to commit median %5.1f ms (<= %.0f), "
      "p99 %5.1f ms (<= %.0f), %llu batches\n",
      rate, static_cast<unsigned long long>(measured), median, median_bound, p99, p99_bound,
      static_cast<unsigned long long>(worker.batches_committed()));
}

int Run(int argc, char** argv) {
  const uint64_t events = argc > 1 ? std::stoull(argv[1]) : 30000;
  const uint64_t per_event = argc > 2 ? std::stoull(argv[2]) : 5000;
  test::MariaDbServer server;
  if (!server.Start({"--innodb-flush-log-at-trx-commit=1"})) return 1;
  server.env()->ExportToClientLibrary();
  const test::MariaDbEnv& database = *server.env();

  Worker worker(database, "batched");
  worker.Collect({"--rate", "0", "--events", std::to_string(events)}, events, 120, false);
  const uint64_t messages = worker.journal().durable();

  const double per_event_seconds = worker.ApplyPerEvent("per-event", per_event);
  const uint64_t batches_before = worker.batches_committed();
  const double batched_seconds = worker.ApplyBatched("batched");
  const uint64_t batches = worker.batches_committed() - batches_before;
  std::vector<std::string> statements;
  worker.ApplyBatched("recorded", [&](std::string_view text) { statements.emplace_back(text); });
  {
    MySqlConnection admin;
    admin.Open("localhost", database.admin_user, database.admin_password);
    mysql_query(admin.get(), "drop database acd_db");
    ActivityLog log;
    AcdDatabase tables(&log);
    tables.Connect("localhost", database.admin_user, database.admin_password);
    tables.CreateTables();
  }
  const double bare_seconds = ReplayBare(statements, database);

  const double per_event_rate = static_cast<double>(per_event) / per_event_seconds;
  const double batched_rate = static_cast<double>(messages) / batched_seconds;
  const double bare_rate = static_cast<double>(messages) / bare_seconds;
  std::printf("backlog: %llu messages journaled (%llu events asked for)\n",
              static_cast<unsigned long long>(messages), static_cast<unsigned long long>(events));
  std::printf("per event: %8.0f messages/s (%llu messages)\n", per_event_rate,
              static_cast<unsigned long long>(per_event));
  std::printf("batched:   %8.0f messages/s = %5.1f x per event (%llu batches, %llu by statement)\n",
              batched_rate, batched_rate / per_event_rate, static_cast<unsigned long long>(batches),
              static_cast<unsigned long long>(worker.batches_by_statement()));
  std::printf("bare:      %8.0f messages/s = %5.1f x per event (%zu statements)\n", bare_rate,
              bare_rate / per_event_rate, statements.size());
  Live(database, 100);
  Live(database, 1000);
  return 0;
}

}  // namespace
}  // namespace callsink

int main(int argc, char** argv) { return callsink::Run(argc, argv); }
