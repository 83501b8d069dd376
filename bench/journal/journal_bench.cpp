// The journal's format, measured against the alternative: the collector's
// append-only segment files with group commit (Journal, JournalCursor) and
// an SQLite database in WAL mode (one row per record, synchronous=FULL so
// that each committed group is on disk, as the segment files' fdatasync
// makes it). Both take the same records (the sizes of Status, Call and CDR
// events in the stream's mix) in the same groups:
//
//   burst    200,000 records in groups of 256 (a backlog while the link is
//            fast): records/s, CPU per record, bytes the process wrote to
//            disk per record (/proc/self/io write_bytes), disk use at the end
//   live     2,000 records in groups of 5 (100 events/s, a commit every
//            50 ms): the commit's latency, median and 99th percentile
//   replay   reading the burst back in order: records/s, CPU per record;
//            then all of it applied: what stays on disk
//   steady   a writer appending 200,000 records in groups of 64 while a
//            reader reads them and marks every 2,000 applied, the applied
//            part pruned as it goes: records/s, CPU and bytes written per
//            record, largest disk use
//
//   journal_bench [FOLDER]   (FOLDER on the disk that matters; default /tmp)
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/activity_log.h"
#include "platform/sqlite_connection.h"
#include "protocol/wire_format.h"
#include "worker/journal.h"
#include "worker/journal_cursor.h"

namespace callsink {
namespace {

constexpr uint64_t kBurst = 200000;
constexpr uint64_t kLive = 2000;

// Status 52%, Call 36%, CDR 12% of the events.
size_t RecordSize(uint64_t i) {
  const uint64_t slot = i % 25;
  if (slot < 13) return wire::kHeaderSize + wire::kStatusBodySize;
  if (slot < 22) return wire::kHeaderSize + wire::kCallBodySize;
  return wire::kHeaderSize + wire::kCdrBodySize;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

uint64_t WrittenBytes() {
  std::ifstream io("/proc/self/io");
  std::string name;
  uint64_t value = 0;
  while (io >> name >> value) {
    if (name == "write_bytes:") return value;
  }
  return 0;
}

uint64_t FolderBytes(const std::string& folder) {
  uint64_t bytes = 0;
  for (const auto& file : std::filesystem::recursive_directory_iterator(folder)) {
    if (file.is_regular_file()) bytes += file.file_size();
  }
  return bytes;
}

// What each format offers the worker: the writer's Add and Commit, the
// reader's ordered read from a position, and the pruning of what is applied.
class Format {
 public:
  virtual ~Format() = default;
  virtual void Add(uint64_t sequence, const std::vector<uint8_t>& payload) = 0;
  virtual void Commit() = 0;
  // Reads up to `limit` records after `after`; the last sequence read.
  virtual uint64_t Read(uint64_t after, size_t limit) = 0;
  // Reader's thread: every record up to `sequence` is applied.
  virtual void Applied(uint64_t sequence) = 0;
};

class SegmentFiles : public Format {
 public:
  explicit SegmentFiles(const std::string& folder)
      : journal_({folder, uint64_t{1} << 30, Journal::SegmentBytesFor(uint64_t{1} << 30)}, &log_),
        cursor_(&journal_) {
    journal_.Open();
  }
  void Add(uint64_t, const std::vector<uint8_t>& payload) override {
    journal_.Add(journal::EntryKind::kMessage, 0, payload);
  }
  void Commit() override {
    journal_.Commit();
    journal_.Prune();
  }
  uint64_t Read(uint64_t after, size_t limit) override {
    // The applier seeks only after a failure; it reads on where it was.
    if (after != position_) cursor_.Seek(after);
    JournalEntry entry;
    position_ = after;
    for (size_t i = 0; i < limit && cursor_.Next(&entry); ++i) position_ = entry.sequence;
    return position_;
  }
  void Applied(uint64_t sequence) override { journal_.MarkApplied(sequence); }

 private:
  ActivityLog log_;
  Journal journal_;
  JournalCursor cursor_;
  uint64_t position_ = 0;
};

class SqliteWal : public Format {
 public:
  explicit SqliteWal(const std::string& folder) {
    std::filesystem::create_directories(folder);
    writer_ = Connect(folder + "/journal.db");
    Execute(writer_,
            "create table if not exists journal (seq integer primary key, "
            "received integer, kind integer, payload blob)");
    reader_ = Connect(folder + "/journal.db");
    sqlite3_prepare_v2(writer_.get(), "insert into journal values (?, 0, 1, ?)", -1, &insert_,
                       nullptr);
    sqlite3_prepare_v2(reader_.get(),
                       "select seq, received, kind, payload from journal where seq > ? order by "
                       "seq limit ?",
                       -1, &select_, nullptr);
  }
  ~SqliteWal() override {
    sqlite3_finalize(insert_);
    sqlite3_finalize(select_);
  }
  void Add(uint64_t sequence, const std::vector<uint8_t>& payload) override {
    if (!in_group_) Execute(writer_, "begin");
    in_group_ = true;
    sqlite3_bind_int64(insert_, 1, static_cast<sqlite3_int64>(sequence));
    sqlite3_bind_blob(insert_, 2, payload.data(), static_cast<int>(payload.size()), SQLITE_STATIC);
    sqlite3_step(insert_);
    sqlite3_reset(insert_);
  }
  void Commit() override {
    if (in_group_) Execute(writer_, "commit");
    in_group_ = false;
  }
  uint64_t Read(uint64_t after, size_t limit) override {
    sqlite3_bind_int64(select_, 1, static_cast<sqlite3_int64>(after));
    sqlite3_bind_int64(select_, 2, static_cast<sqlite3_int64>(limit));
    uint64_t last = after;
    while (sqlite3_step(select_) == SQLITE_ROW) {
      last = static_cast<uint64_t>(sqlite3_column_int64(select_, 0));
      sqlite3_column_blob(select_, 3);
    }
    sqlite3_reset(select_);
    return last;
  }
  void Applied(uint64_t sequence) override {
    Execute(reader_, ("delete from journal where seq <= " + std::to_string(sequence)).c_str());
  }

 private:
  static SqliteConnection Connect(const std::string& file) {
    sqlite3* handle = nullptr;
    sqlite3_open(file.c_str(), &handle);
    SqliteConnection connection(handle);
    Execute(connection, "pragma journal_mode=wal");
    Execute(connection, "pragma synchronous=full");
    sqlite3_busy_timeout(handle, 5000);
    return connection;
  }
  static void Execute(const SqliteConnection& connection, const char* sql) {
    sqlite3_exec(connection.get(), sql, nullptr, nullptr, nullptr);
  }

  SqliteConnection writer_;
  SqliteConnection reader_;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  bool in_group_ = false;
};

struct Run {
  double seconds;
  double cpu_seconds;
  uint64_t written;
};

Run Measure(const std::function<void()>& body) {
  const uint64_t written = WrittenBytes();
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  body();
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  return {wall.count(), CpuSeconds() - cpu, WrittenBytes() - written};
}

void Append(Format& format, uint64_t first, uint64_t count, uint64_t group) {
  std::vector<uint8_t> payload(wire::kMaxMessageSize, 0x5a);
  for (uint64_t i = first; i < first + count; ++i) {
    payload.resize(RecordSize(i));
    format.Add(i, payload);
    if ((i - first + 1) % group == 0) format.Commit();
  }
  format.Commit();
}

void Bench(const char* name, const std::string& folder,
           const std::function<std::unique_ptr<Format>(const std::string&)>& make) {
  std::filesystem::remove_all(folder);
  {
    auto format = make(folder + "/burst");
    const Run burst = Measure([&] { Append(*format, 1, kBurst, 256); });
    const uint64_t disk = FolderBytes(folder + "/burst");
    const Run replay = Measure([&] {
      for (uint64_t at = 0; at < kBurst;) at = format->Read(at, 2000);
    });
    format->Applied(kBurst);
    format->Commit();
    const uint64_t pruned = FolderBytes(folder + "/burst");
    std::printf(
        "%-14s burst   %9.0f records/s  %5.2f us CPU/record  %6.0f B written/record  "
        "%6.1f MB on disk\n",
        name, kBurst / burst.seconds, burst.cpu_seconds * 1e6 / kBurst,
        static_cast<double>(burst.written) / kBurst, static_cast<double>(disk) / 1e6);
    std::printf(
        "%-14s replay  %9.0f records/s  %5.2f us CPU/record  %6.1f MB on disk once all "
        "is applied\n",
        name, kBurst / replay.seconds, replay.cpu_seconds * 1e6 / kBurst,
        static_cast<double>(pruned) / 1e6);
  }
  {
    auto format = make(folder + "/live");
    std::vector<double> commits;
    std::vector<uint8_t> payload;
    for (uint64_t i = 1; i <= kLive; ++i) {
      payload.assign(RecordSize(i), 0x5a);
      format->Add(i, payload);
      if (i % 5 == 0) {
        commits.push_back(Measure([&] { format->Commit(); }).seconds * 1e3);
      }
    }
    std::sort(commits.begin(), commits.end());
    std::printf("%-14s live    commit of 5 records: median %.2f ms, p99 %.2f ms\n", name,
                commits[commits.size() / 2], commits[commits.size() * 99 / 100]);
  }
  {
    auto format = make(folder + "/steady");
    uint64_t peak = 0;
    const Run steady = Measure([&] {
      std::thread writer([&] {
        std::vector<uint8_t> payload;
        for (uint64_t i = 1; i <= kBurst; ++i) {
          payload.assign(RecordSize(i), 0x5a);
          format->Add(i, payload);
          if (i % 64 == 0 || i == kBurst) format->Commit();
        }
      });
      uint64_t applied = 0;
      while (applied < kBurst) {
        const uint64_t read = format->Read(applied, 2000);
        if (read == applied) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          continue;
        }
        applied = read;
        format->Applied(applied);
        peak = std::max(peak, FolderBytes(folder + "/steady"));
      }
      writer.join();
    });
    std::printf(
        "%-14s steady  %9.0f records/s  %5.2f us CPU/record  %6.0f B written/record  "
        "largest on disk %.1f MB\n",
        name, kBurst / steady.seconds, steady.cpu_seconds * 1e6 / kBurst,
        static_cast<double>(steady.written) / kBurst, static_cast<double>(peak) / 1e6);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace callsink

int main(int argc, char** argv) {
  const std::string base =
      std::string(argc > 1 ? argv[1] : "/tmp") + "/journal_bench." + std::to_string(getpid());
  callsink::Bench("segment files", base + "/segments",
                  [](const std::string& folder) -> std::unique_ptr<callsink::Format> {
                    return std::make_unique<callsink::SegmentFiles>(folder);
                  });
  callsink::Bench("sqlite wal", base + "/sqlite",
                  [](const std::string& folder) -> std::unique_ptr<callsink::Format> {
                    return std::make_unique<callsink::SqliteWal>(folder);
                  });
  std::filesystem::remove_all(base);
  return 0;
}
