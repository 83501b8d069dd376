#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace callsink {

#ifdef CALLSINK_NO_COUNTERS
// Built without counters (the benchmark's baseline): every writer below
// compiles to nothing and every figure reads 0.
inline constexpr bool kCountersBuilt = false;
#else
inline constexpr bool kCountersBuilt = true;
#endif

// The health figures of one worker: what it received, what it wrote, how
// its links fare and, once a journal feeds them, the journal's backlog and
// apply times.
//
// Written by the worker's own threads, read by the metrics endpoint's thread
// through Read(). Every figure is a relaxed atomic: no lock and no fence on
// the hot path, and a reader sees each figure whole but not the figures as
// one consistent set. The object must outlive every thread that writes or
// reads it (the collector shares it between the worker and the endpoint).
class WorkerStats {
 public:
  enum class Link : size_t { kAcd = 0, kDatabase = 1 };
  static constexpr size_t kLinkCount = 2;

  // The tables rows are counted for; the exporter labels each with its name
  // (the store checks at compile time that the names are the schema's).
  enum class Table : size_t {
    kGroups = 0,
    kAgents,
    kRelations,
    kStatus,
    kCdr,
    kCalls,
    kTime,
  };
  static constexpr size_t kTableCount = 7;
  static constexpr std::array<const char*, kTableCount> kTableNames = {
      "stock_groups", "stock_agents", "stock_relations", "stock_status",
      "stock_cdr",    "stock_calls",  "stock_time"};

  // Messages are counted by class (0 request, 1 response, 2 event) and type;
  // anything outside these counts once in an "other" slot.
  static constexpr size_t kClassCount = 3;
  static constexpr size_t kTypeCount = 8;

  // Upper bounds (seconds) of the apply latency histogram's buckets; a last
  // bucket takes everything above.
  static constexpr std::array<double, 12> kApplyLatencyBounds = {
      0.005, 0.01, 0.025, 0.05, 0.1, 0.2, 0.5, 1, 2.5, 10, 60, 300};

  // A copy of every figure, taken by Read().
  struct Snapshot {
    std::array<std::array<uint64_t, kTypeCount>, kClassCount> messages{};
    uint64_t other_messages = 0;
    uint64_t events_last_minute = 0;
    std::array<uint64_t, kTableCount> rows{};
    uint64_t failed_statements = 0;
    std::array<uint64_t, kLinkCount> connects{}, losses{}, retries{};
    std::array<bool, kLinkCount> link_up{};
    // Milliseconds since 1970 of the collector's clock; 0: never.
    int64_t last_message_ms = 0;
    int64_t last_commit_ms = 0;
    // The journal's figures mean something only when `journal` is set.
    bool journal = false;
    uint64_t backlog_entries = 0, backlog_bytes = 0, cap_bytes = 0;
    uint64_t damaged_records = 0;
    double apply_lag_seconds = 0;
    std::array<uint64_t, kApplyLatencyBounds.size() + 1> latency_buckets{};  // not cumulative
    uint64_t latency_count = 0;
    double latency_sum_seconds = 0;
    // Share of each table's ID range used (0 to 1); 0: not read yet.
    std::array<double, kTableCount> id_used{};
    // The latest database session: encrypted or not, and when the server's
    // certificate ends (seconds since 1970; 0: unknown).
    bool database_tls = false;
    int64_t database_certificate_end = 0;
    // Rows retention deleted, by table.
    std::array<uint64_t, kTableCount> retention_deleted{};
  };

  WorkerStats() = default;
  WorkerStats(const WorkerStats&) = delete;
  WorkerStats& operator=(const WorkerStats&) = delete;

  // One message read from the ACD server, header and body whole.
  void CountMessage(uint16_t msg_class, uint16_t msg_type) {
    if constexpr (!kCountersBuilt) return;
    const int64_t now = NowMs();
    last_message_ms_.store(now, std::memory_order_relaxed);
    if (msg_class >= kClassCount || msg_type >= kTypeCount) {
      Add(other_messages_);
      return;
    }
    Add(messages_[msg_class][msg_type]);
    if (msg_class == kEventClass) CountEventAt(now);
  }
  // `rows` rows of `table` written by a statement that succeeded (and, with
  // the server's autocommit, committed).
  void CountRows(Table table, uint64_t rows) {
    if constexpr (!kCountersBuilt) return;
    Add(rows_[static_cast<size_t>(table)], rows);
    last_commit_ms_.store(NowMs(), std::memory_order_relaxed);
  }
  void CountFailedStatement() { Add(failed_statements_); }
  // A link came up; a connect attempt failed and will be retried; an
  // established link was lost.
  void CountConnect(Link link) { Add(connects_[static_cast<size_t>(link)]); }
  void CountRetry(Link link) { Add(retries_[static_cast<size_t>(link)]); }
  void CountLoss(Link link) { Add(losses_[static_cast<size_t>(link)]); }
  void SetLinkUp(Link link, bool up) {
    if constexpr (kCountersBuilt)
      link_up_[static_cast<size_t>(link)].store(up, std::memory_order_relaxed);
  }

  // The journal's figures. The first call of any of them makes the exporter
  // serve all of them for this worker.
  void SetJournalBacklog(uint64_t entries, uint64_t bytes);
  void SetJournalCap(uint64_t bytes);
  // Journaled records lost to damage on disk, since the worker started.
  void SetJournalDamagedRecords(uint64_t records);
  // Receipt to commit of the newest entry applied.
  void SetApplyLag(double seconds);
  // Receipt to commit of one applied entry.
  void ObserveApplyLatency(double seconds);

  // How far `table`'s auto-increment ID has come through its range (0 to 1).
  void SetIdUsed(Table table, double share) {
    if constexpr (kCountersBuilt) StoreDouble(id_used_bits_[static_cast<size_t>(table)], share);
  }

  // A database session came up, encrypted or not; `certificate_end` as in
  // the Snapshot.
  void SetDatabaseTls(bool encrypted, int64_t certificate_end) {
    if constexpr (!kCountersBuilt) return;
    database_tls_.store(encrypted, std::memory_order_relaxed);
    database_certificate_end_.store(certificate_end, std::memory_order_relaxed);
  }
  // `rows` rows of `table` that retention deleted (committed).
  void CountRetentionDeleted(Table table, uint64_t rows) {
    Add(retention_deleted_[static_cast<size_t>(table)], rows);
  }

  // Any thread.
  Snapshot Read() const;

 private:
  static constexpr uint16_t kEventClass = 2;
  static constexpr size_t kMinuteSlots = 60;
  using Counter = std::atomic<uint64_t>;
  // Events of one second of the collector's clock.
  struct SecondSlot {
    std::atomic<int64_t> second{0};
    Counter events{0};
  };

  static void Add(Counter& counter, uint64_t amount = 1) {
    if constexpr (kCountersBuilt) counter.fetch_add(amount, std::memory_order_relaxed);
  }
  // The collector's clock at the resolution of a scheduler tick: a few
  // nanoseconds a call, where the precise clock costs ten times that.
  static int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }
  void CountEventAt(int64_t now_ms);
  void MarkJournal() { journal_.store(true, std::memory_order_relaxed); }
  static void StoreDouble(std::atomic<uint64_t>& target, double value);
  static double LoadDouble(const std::atomic<uint64_t>& source);

  std::array<std::array<Counter, kTypeCount>, kClassCount> messages_{};
  Counter other_messages_{0};
  std::array<SecondSlot, kMinuteSlots> minute_{};
  std::array<Counter, kTableCount> rows_{};
  Counter failed_statements_{0};
  std::array<Counter, kLinkCount> connects_{}, losses_{}, retries_{};
  std::array<std::atomic<bool>, kLinkCount> link_up_{};
  std::atomic<int64_t> last_message_ms_{0};
  std::atomic<int64_t> last_commit_ms_{0};

  std::atomic<bool> journal_{false};
  Counter backlog_entries_{0}, backlog_bytes_{0}, cap_bytes_{0};
  Counter damaged_records_{0};
  std::atomic<uint64_t> apply_lag_bits_{0};  // a double's bits
  std::array<Counter, kApplyLatencyBounds.size() + 1> latency_buckets_{};
  Counter latency_sum_us_{0};
  std::array<std::atomic<uint64_t>, kTableCount> id_used_bits_{};  // doubles' bits
  std::atomic<bool> database_tls_{false};
  std::atomic<int64_t> database_certificate_end_{0};
  std::array<Counter, kTableCount> retention_deleted_{};
};

}  // namespace callsink
