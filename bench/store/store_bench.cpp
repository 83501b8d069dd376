// Ingest rate of the store against the limit of one connection.
//
// One event set is handled as the dispatch handles it: a Status event (Ping,
// WriteStatusInterval, WriteRelationStatus), a Call event (Ping, WriteCall,
// WriteGroup) and a CDR event (Ping, WriteCdr): three pings and eight
// statements through AcdDatabase ("store"). The same statement texts,
// recorded from the store, are replayed through bare mysql_real_query calls
// on one connection: with mysql_ping at the same places and the store's time
// limits ("bare"), without the pings ("bare_noping"), and with the pings but
// without time limits ("bare_untimed"). Counters give events per second of
// wall time for each path (from the median round, see BM_Ingest) and the
// store's rate as a share of each bare loop's.
//
// The program starts a private MariaDB server of its own through
// tests/support/mariadb/mariadb-instance.sh (the server inherits the
// program's CPU affinity) and measures over the unix socket and TCP, with the
// server's default durability (innodb_flush_log_at_trx_commit=1, a log flush
// per commit) and with 2 (a flush about once a second).
//
// On a small virtual machine, wake-ups across CPUs make the rates of
// different connections differ by chance; `taskset -c 1 store_bench` keeps
// client and server on one CPU and the comparison steady.
#include <benchmark/benchmark.h>
#include <mysql.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "store/mysql_connection.h"
#include "store/mysql_result.h"
#include "tests/support/mariadb_server.h"

namespace callsink {
namespace {

constexpr char kServer[] = "acd1.example";
constexpr char kGroup[] = "Sales";
constexpr char kAgent[] = "1001";
constexpr int kEventsPerSet = 3;
// Event sets recorded for the bare loops, replayed in a cycle.
constexpr int kRecordedSets = 500;

enum class Transport { kSocket, kTcp };
enum class Durability { kDefault, kRelaxed };

const char* Host(Transport transport) {
  return transport == Transport::kTcp ? "127.0.0.1" : "localhost";
}
const char* Name(Transport transport) { return transport == Transport::kTcp ? "tcp" : "socket"; }
const char* Name(Durability durability) {
  return durability == Durability::kRelaxed ? "flush2" : "default";
}

const test::MariaDbEnv* server_env = nullptr;
// The ACD clock of the next event set; rises across all runs so that every
// Status event closes an interval.
uint32_t next_time = 1700000000;

// The statements of one event set as the store sent them, one list per event.
using RecordedSet = std::vector<std::vector<std::string>>;
std::vector<RecordedSet> recorded;

// The store's calls for one event set; false when any of them failed.
// `before_ping` runs before each ping, that is, at the start of each event.
template <typename BeforePing>
bool WriteEventSet(AcdDatabase& store, uint32_t time, BeforePing before_ping) {
  const int32_t status = 1 + static_cast<int32_t>(time & 1);
  bool ok = true;
  before_ping();
  ok &= store.Ping();
  ok &= store.WriteStatusInterval(kServer, kGroup, kAgent, time, status);
  ok &= store.WriteRelationStatus(kServer, kGroup, kAgent, time, status);
  before_ping();
  ok &= store.Ping();
  ok &= store.WriteCall(kServer, kGroup, kAgent, "call-000123", time, 2, 0);
  ok &= store.WriteGroup(kServer, kGroup, time, 1, false, 3);
  before_ping();
  ok &= store.Ping();
  ok &= store.WriteCdr(kServer, kGroup, kAgent, "caller-17", "7f3c2a9e-41d2-4b8e-9a51-0c6d2e8b1f44",
                       time, 95, 2, 1, 12);
  return ok;
}

// A bare connection with the store's character set and, when `timed`, the
// store's time limits, which cost a few system calls per answer.
MySqlConnection ConnectBare(Transport transport, bool timed) {
  MySqlConnection connection(mysql_init(nullptr));
  mysql_options(connection.get(), MYSQL_SET_CHARSET_NAME, "latin1");
  if (timed) {
    const MySqlTimeouts& limits = MySqlConnection::kDefaultTimeouts;
    mysql_options(connection.get(), MYSQL_OPT_CONNECT_TIMEOUT, &limits.connect_seconds);
    mysql_options(connection.get(), MYSQL_OPT_READ_TIMEOUT, &limits.read_seconds);
    mysql_options(connection.get(), MYSQL_OPT_WRITE_TIMEOUT, &limits.write_seconds);
  }
  if (mysql_real_connect(connection.get(), Host(transport), server_env->admin_user.c_str(),
                         server_env->admin_password.c_str(), "acd_db", 0, nullptr, 0) == nullptr) {
    std::fprintf(stderr, "connect: %s\n", mysql_error(connection.get()));
    connection.Close();
  }
  return connection;
}

// Sets the server's durability; the label names the value in force.
std::string ApplyDurability(Durability durability) {
  MySqlConnection admin = ConnectBare(Transport::kSocket, false);
  mysql_query(admin.get(), durability == Durability::kRelaxed
                               ? "SET GLOBAL innodb_flush_log_at_trx_commit=2"
                               : "SET GLOBAL innodb_flush_log_at_trx_commit=DEFAULT");
  mysql_query(admin.get(), "select @@innodb_flush_log_at_trx_commit");
  const MySqlResult result(mysql_store_result(admin.get()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  return std::string("flush_log_at_trx_commit=") + (row != nullptr ? row[0] : "?");
}

// Tables, the membership the Status events refer to, and the recording.
bool Prepare() {
  ActivityLog log;
  AcdDatabase store(&log);
  store.SetStatementObserver([](std::string_view text) {
    if (!recorded.empty()) recorded.back().back().emplace_back(text);
  });
  if (!store.Connect("localhost", server_env->admin_user, server_env->admin_password) ||
      !store.CreateTables(kServer) ||
      !store.WriteRelation(kServer, kGroup, kAgent, next_time++, 1, true)) {
    return false;
  }
  for (int i = 0; i < kRecordedSets; ++i) {
    recorded.emplace_back();
    if (!WriteEventSet(store, next_time++, [] { recorded.back().emplace_back(); })) return false;
  }
  return true;
}

// Sends the recorded statements of one event set; false when one failed.
bool ReplayEventSet(MYSQL* connection, const RecordedSet& set, bool ping) {
  for (const std::vector<std::string>& event : set) {
    if (ping && mysql_ping(connection) != 0) return false;
    for (const std::string& statement : event) {
      if (mysql_real_query(connection, statement.data(), statement.size()) != 0) return false;
      if (mysql_field_count(connection) > 0) mysql_free_result(mysql_store_result(connection));
    }
  }
  return true;
}

// The ways one event set goes to the server, measured side by side.
enum Path { kStore, kBare, kBareNoPing, kBareUntimed, kPathCount };
constexpr const char* kPathNames[kPathCount] = {"store", "bare", "bare_noping", "bare_untimed"};

// One iteration is a round of kSetsPerRound event sets through each path in
// turn, each path timed on its own. Interleaving the paths in short rounds
// exposes them to the same load of a shared machine, and rates from the
// median round time per path ignore the rounds a preemption or a stalled
// flush happened to hit.
constexpr int kSetsPerRound = 4;

using Clock = std::chrono::steady_clock;

double MedianSeconds(std::vector<Clock::duration>& times) {
  std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2),
                   times.end());
  return std::chrono::duration<double>(times[times.size() / 2]).count();
}

void BM_Ingest(benchmark::State& state, Transport transport, Durability durability) {
  state.SetLabel(ApplyDurability(durability));
  ActivityLog log;  // not opened: the store's lines go nowhere
  AcdDatabase store(&log);
  MySqlConnection timed = ConnectBare(transport, true);
  MySqlConnection untimed = ConnectBare(transport, false);
  if (!store.Connect(Host(transport), server_env->admin_user, server_env->admin_password) ||
      !timed || !untimed) {
    state.SkipWithError("connect failed");
    return;
  }
  std::vector<Clock::duration> round_times[kPathCount];
  size_t next_recorded = 0;
  int round = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < kPathCount; ++turn) {
      // The path that goes first changes from round to round.
      const Path path = static_cast<Path>((round + turn) % kPathCount);
      MYSQL* bare = path == kBareUntimed ? untimed.get() : timed.get();
      const Clock::time_point start = Clock::now();
      bool ok = true;
      for (int i = 0; i < kSetsPerRound; ++i) {
        if (path == kStore) {
          ok &= WriteEventSet(store, next_time++, [] {});
        } else {
          ok &= ReplayEventSet(bare, recorded[next_recorded], path != kBareNoPing);
          next_recorded = (next_recorded + 1) % recorded.size();
        }
      }
      round_times[path].push_back(Clock::now() - start);
      if (!ok) {
        state.SkipWithError(path == kStore ? "a store call failed" : mysql_error(bare));
        return;
      }
    }
    ++round;
  }
  double rates[kPathCount];
  for (int path = 0; path < kPathCount; ++path) {
    rates[path] = kSetsPerRound * kEventsPerSet / MedianSeconds(round_times[path]);
    state.counters[kPathNames[path]] = rates[path];
  }
  for (int path = kBare; path < kPathCount; ++path) {
    state.counters[std::string("store/") + kPathNames[path]] = rates[kStore] / rates[path];
  }
}

}  // namespace
}  // namespace callsink

int main(int argc, char** argv) {
  using namespace callsink;
  benchmark::Initialize(&argc, argv);

  test::MariaDbServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "store_bench: could not start a private MariaDB server\n");
    return 1;
  }
  server_env = &*server.env();
  server_env->ExportToClientLibrary();
  if (!Prepare()) {
    std::fprintf(stderr, "store_bench: could not prepare the tables\n");
    return 1;
  }

  for (Durability durability : {Durability::kDefault, Durability::kRelaxed}) {
    for (Transport transport : {Transport::kSocket, Transport::kTcp}) {
      const std::string name = std::string("ingest/") + Name(transport) + "/" + Name(durability);
      benchmark::RegisterBenchmark(name.c_str(), BM_Ingest, transport, durability)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond)
          ->MinTime(5);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
