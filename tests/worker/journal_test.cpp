// Journal and JournalCursor on a temporary folder: what was committed reads
// back whole and in order, across segments, reopenings and a writer that
// goes on meanwhile; a torn tail is cut; damage costs only what it covers;
// applied segments go; the cap holds.
#include "worker/journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "tests/support/temp_dir.h"
#include "worker/journal_cursor.h"
#include "worker/segment_reader.h"

namespace callsink {
namespace {

using journal::EntryKind;

// Record i: its own length (20 to 219 bytes) and bytes, every 50th a pass
// start without payload, received at i milliseconds.
std::vector<uint8_t> Payload(uint64_t i) {
  if (i % 50 == 0) return {};
  std::vector<uint8_t> bytes(20 + i % 200);
  for (size_t b = 0; b < bytes.size(); ++b) bytes[b] = static_cast<uint8_t>(i * 31 + b);
  return bytes;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    test::TempDir::MakeFolder(dir_ / "logs");
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    ASSERT_TRUE(log_.Open("journal"));
  }
  void TearDown() override { ASSERT_EQ(chdir(previous_.c_str()), 0); }

  std::unique_ptr<Journal> Open(uint64_t cap = uint64_t{1} << 30) {
    auto journal = std::make_unique<Journal>(
        Journal::Options{folder_, cap, Journal::SegmentBytesFor(cap)}, &log_);
    EXPECT_TRUE(journal->Open());
    return journal;
  }
  // Adds records first..last, committing every `group`.
  static void Write(Journal& journal, uint64_t first, uint64_t last, uint64_t group = 100) {
    for (uint64_t i = first; i <= last; ++i) {
      const auto kind = i % 50 == 0 ? EntryKind::kPassStart : EntryKind::kMessage;
      ASSERT_EQ(journal.Add(kind, static_cast<int64_t>(i) * 1000, Payload(i)),
                Journal::AddResult::kAdded);
      if (i % group == 0 || i == last) {
        ASSERT_TRUE(journal.Commit());
      }
    }
  }
  // Reads records after `after` up to `last` and checks each.
  static void ExpectRecords(const Journal& journal, uint64_t after, uint64_t last) {
    JournalCursor cursor(&journal);
    cursor.Seek(after);
    JournalEntry entry;
    for (uint64_t i = after + 1; i <= last; ++i) {
      ASSERT_TRUE(cursor.Next(&entry)) << i;
      ASSERT_EQ(entry.sequence, i);
      ASSERT_EQ(entry.kind, i % 50 == 0 ? EntryKind::kPassStart : EntryKind::kMessage);
      ASSERT_EQ(entry.received_us, static_cast<int64_t>(i) * 1000);
      ASSERT_EQ(std::vector<uint8_t>(entry.payload.begin(), entry.payload.end()), Payload(i));
    }
    EXPECT_FALSE(cursor.Next(&entry));
  }
  std::string Log() const { return test::TempDir::ReadFile(dir_ / "logs/acd_journal.log"); }

  test::TempDir dir_;
  const std::string folder_ = dir_ / "spool/10.0.0.5";
  ActivityLog log_;
  std::string previous_;
};

TEST_F(JournalTest, CommittedRecordsReadBackInOrderAcrossSegmentsAndReopenings) {
  auto journal = Open(1 << 20);  // segments of 128 KiB
  Write(*journal, 1, 3000);
  EXPECT_GT(journal->ListSegments().size(), 3u);
  ExpectRecords(*journal, 0, 3000);
  const uint64_t identity = journal->identity();

  journal = Open(1 << 20);
  EXPECT_EQ(journal->identity(), identity);
  EXPECT_EQ(journal->durable(), 3000u);
  Write(*journal, 3001, 3100);
  ExpectRecords(*journal, 1499, 3100);

  // Without its files the journal is a new one, counted from 1.
  journal.reset();
  std::filesystem::remove_all(folder_);
  journal = Open();
  EXPECT_NE(journal->identity(), identity);
  EXPECT_EQ(journal->durable(), 0u);
}

TEST_F(JournalTest, TheApplierReadsWhileTheWriterCommits) {
  auto journal = Open(8 << 20);  // segments of 1 MiB
  std::thread writer([&] { Write(*journal, 1, 20000, 37); });
  JournalCursor cursor(journal.get());
  JournalEntry entry;
  for (uint64_t i = 1; i <= 20000; ++i) {
    while (!cursor.Next(&entry)) ASSERT_TRUE(journal->WaitBeyond(i - 1, 5000));
    ASSERT_EQ(entry.sequence, i);
    ASSERT_EQ(std::vector<uint8_t>(entry.payload.begin(), entry.payload.end()), Payload(i));
    if (i % 1000 == 0) journal->MarkApplied(i);
  }
  writer.join();
}

TEST_F(JournalTest, ATornTailIsCutAtTheLastWholeRecordAndNumberingGoesOn) {
  auto journal = Open();
  Write(*journal, 1, 10);
  journal.reset();
  // Half of record 11 made it to the disk before the crash.
  std::vector<uint8_t> record(journal::kRecordHeaderSize + Payload(11).size());
  journal::EncodeRecord(record.data(),
                        {static_cast<uint32_t>(Payload(11).size()), 11, 11000, EntryKind::kMessage},
                        Payload(11));
  const std::string segment = folder_ + "/00000000000000000001.seg";
  const auto whole = std::filesystem::file_size(segment);
  std::ofstream(segment, std::ios::app | std::ios::binary)
      .write(reinterpret_cast<const char*>(record.data()), 30);

  journal = Open();
  EXPECT_NE(Log().find("torn record at byte " + std::to_string(whole) + " cut, 30 bytes dropped"),
            std::string::npos)
      << Log();
  EXPECT_EQ(std::filesystem::file_size(segment), whole);
  Write(*journal, 11, 12);
  ExpectRecords(*journal, 0, 12);
}

// Where a record lies on disk.
struct RecordPlace {
  std::string segment;
  uint64_t offset = 0;
};

RecordPlace Find(const Journal& journal, uint64_t sequence) {
  for (const uint64_t first : journal.ListSegments()) {
    SegmentReader reader;
    EXPECT_TRUE(reader.Open(journal.SegmentPath(first)));
    journal::RecordHeader header{};
    std::span<const uint8_t> payload;
    for (uint64_t at = reader.offset();
         reader.Next(&header, &payload) == SegmentReader::Result::kRecord; at = reader.offset()) {
      if (header.sequence == sequence) return {journal.SegmentPath(first), at};
    }
  }
  ADD_FAILURE() << "no record " << sequence;
  return {};
}

void FlipByte(const std::string& path, uint64_t offset) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(static_cast<std::streamoff>(offset));
  const char byte = static_cast<char>(file.get() ^ 0x5a);
  file.seekp(static_cast<std::streamoff>(offset));
  file.put(byte);
}

// One damaged byte, then a restart: the cursor reads every record but the
// ones the damage covers, the log and the figures say which, and the
// journal goes on numbering after the last whole record.
TEST_F(JournalTest, DamageCostsOnlyTheRecordsItCovers) {
  constexpr uint64_t kLast = 3001;  // every 50th record has no payload
  struct Case {
    const char* what;
    // The byte to flip, and the records that go with it.
    std::function<std::pair<std::string, uint64_t>(const Journal&)> where;
    uint64_t lost_first, lost_last;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"a record header in the newest segment",
       [](const Journal& j) {
         const RecordPlace at = Find(j, kLast - 100);
         return std::pair{at.segment, at.offset + 5};  // its length
       },
       kLast - 100, kLast - 100, " bytes damaged at byte "},
      {"a payload in an older segment",
       [](const Journal& j) {
         const RecordPlace at = Find(j, 777);
         return std::pair{at.segment, at.offset + journal::kRecordHeaderSize + 3};
       },
       777, 777, " bytes damaged at byte "},
      {"the last record, a torn tail",
       [](const Journal& j) {
         const RecordPlace at = Find(j, kLast);
         return std::pair{at.segment, at.offset + journal::kRecordHeaderSize};
       },
       kLast, kLast, "torn record at byte "},
      {"an older segment's header",
       [](const Journal& j) {
         return std::pair{j.SegmentPath(j.ListSegments()[1]), uint64_t{2}};
       },
       0, 0, "missing, records "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(folder_);
    auto journal = Open(1 << 20);  // segments of 128 KiB
    Write(*journal, 1, kLast);
    ASSERT_GE(journal->ListSegments().size(), 3u);
    const std::vector<uint64_t> firsts = journal->ListSegments();
    const auto [path, offset] = c.where(*journal);
    // A whole segment goes with its header.
    const uint64_t lost_first = c.lost_first != 0 ? c.lost_first : firsts[1];
    const uint64_t lost_last = c.lost_last != 0 ? c.lost_last : firsts[2] - 1;
    journal.reset();
    FlipByte(path, offset);
    const size_t log_before = Log().size();

    journal = Open(1 << 20);
    const bool tail = lost_last == kLast;
    EXPECT_EQ(journal->durable(), tail ? kLast - 1 : kLast);
    Write(*journal, journal->durable() + 1, journal->durable() + 10);
    JournalCursor cursor(journal.get());
    JournalEntry entry;
    std::vector<uint64_t> read;
    while (cursor.Next(&entry)) {
      read.push_back(entry.sequence);
      if (entry.sequence <= kLast) {
        ASSERT_EQ(std::vector<uint8_t>(entry.payload.begin(), entry.payload.end()),
                  Payload(entry.sequence))
            << entry.sequence;
      }
    }
    std::vector<uint64_t> wanted;
    for (uint64_t i = 1; i <= journal->durable(); ++i) {
      // A torn tail's records are numbered anew by the writes after it.
      if (tail || i < lost_first || i > lost_last) wanted.push_back(i);
    }
    EXPECT_EQ(read, wanted);

    const std::string log = Log().substr(log_before);
    EXPECT_NE(log.find(c.line), std::string::npos) << log;
    WorkerStats stats;
    journal->ReportBacklog(&stats);
    if (tail) {
      EXPECT_EQ(stats.Read().damaged_records, 0u);
    } else {
      EXPECT_NE(log.find("records " + std::to_string(lost_first) + " to " +
                         std::to_string(lost_last) + " lost, going on after them"),
                std::string::npos)
          << log;
      EXPECT_EQ(stats.Read().damaged_records, lost_last - lost_first + 1);
    }
  }
}

// A disk that fails on demand: the next write, sync or file made fails once
// (a write after writing half of what it was given).
class FailingFiles : public JournalFiles {
 public:
  enum class Fault { kNone, kShortWrite, kSync, kNewFile };
  Fault next = Fault::kNone;

  int Open(const std::string& path, int flags, mode_t mode) override {
    if ((flags & O_CREAT) != 0 && Take(Fault::kNewFile)) return Fail(-1);
    return JournalFiles::Open(path, flags, mode);
  }
  bool WriteAt(int fd, std::span<const uint8_t> bytes, uint64_t offset) override {
    if (!Take(Fault::kShortWrite)) return JournalFiles::WriteAt(fd, bytes, offset);
    JournalFiles::WriteAt(fd, bytes.first(bytes.size() / 2), offset);
    return Fail(false);
  }
  bool Sync(int fd) override { return Take(Fault::kSync) ? Fail(false) : JournalFiles::Sync(fd); }

 private:
  bool Take(Fault fault) { return next == fault && (next = Fault::kNone, true); }
  template <typename T>
  static T Fail(T result) {
    errno = EIO;
    return result;
  }
};

// Each fault drops the group being committed (said in the log), never a
// record committed before it; the journal goes on at once, and after a
// restart holds every committed record.
TEST_F(JournalTest, AFailedWriteSyncOrSegmentStartCostsOnlyItsGroup) {
  using Fault = FailingFiles::Fault;
  const struct {
    Fault fault;
    bool commit_fails;
    const char* line;
  } cases[] = {
      {Fault::kShortWrite, true, "write failed (Input/output error), 100 records dropped"},
      {Fault::kSync, true, "write failed (Input/output error), 100 records dropped"},
      {Fault::kNewFile, false, "cannot be made: Input/output error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    std::filesystem::remove_all(folder_);
    FailingFiles files;
    constexpr uint64_t kCap = 512 * 1024;  // segments of 64 KiB
    auto journal = std::make_unique<Journal>(
        Journal::Options{folder_, kCap, Journal::SegmentBytesFor(kCap), &files}, &log_);
    ASSERT_TRUE(journal->Open());
    // Records 1 to 400 fill most of a segment; the group after them would
    // close it.
    Write(*journal, 1, 400);
    const size_t segments = journal->ListSegments().size();
    const size_t log_before = Log().size();
    files.next = c.fault;
    for (uint64_t i = 401; i <= 500; ++i) {
      const auto kind = i % 50 == 0 ? EntryKind::kPassStart : EntryKind::kMessage;
      ASSERT_EQ(journal->Add(kind, static_cast<int64_t>(i) * 1000, Payload(i)),
                Journal::AddResult::kAdded);
    }
    EXPECT_EQ(journal->Commit(), !c.commit_fails);
    EXPECT_NE(Log().find(c.line, log_before), std::string::npos) << Log().substr(log_before);
    const uint64_t kept = c.commit_fails ? 400 : 500;
    EXPECT_EQ(journal->durable(), kept);
    // A failed segment start leaves the records in the old segment.
    EXPECT_EQ(journal->ListSegments().size(), segments);

    // Committed groups go on where the durable ones end, now and after a
    // restart.
    Write(*journal, kept + 1, kept + 1000);
    journal = std::make_unique<Journal>(
        Journal::Options{folder_, kCap, Journal::SegmentBytesFor(kCap), &files}, &log_);
    ASSERT_TRUE(journal->Open());
    ExpectRecords(*journal, 0, kept + 1000);
  }
}

TEST_F(JournalTest, AppliedSegmentsGoAndTheCapHolds) {
  constexpr uint64_t kCap = 512 * 1024;  // segments of 64 KiB
  auto journal = Open(kCap);
  uint64_t last = 0;
  while (journal->Add(EntryKind::kMessage, 0, Payload(last + 1)) == Journal::AddResult::kAdded) {
    ++last;
    if (last % 100 == 0) {
      ASSERT_TRUE(journal->Commit());
    }
  }
  ASSERT_TRUE(journal->Commit());
  EXPECT_LE(journal->bytes(), kCap);
  EXPECT_GT(journal->bytes(), kCap - 8 * 1024);

  journal->MarkApplied(last / 2);
  journal->Prune();
  EXPECT_LT(journal->bytes(), kCap / 2 + 64 * 1024);
  EXPECT_EQ(journal->Add(EntryKind::kMessage, 0, Payload(1)), Journal::AddResult::kAdded);
  ASSERT_TRUE(journal->Commit());

  // The position applied survives in the state file.
  journal = Open(kCap);
  EXPECT_EQ(journal->applied(), last / 2);
  EXPECT_EQ(journal->durable(), last + 1);
}

}  // namespace
}  // namespace callsink
