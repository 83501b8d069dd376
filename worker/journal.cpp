#include "worker/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "worker/segment_reader.h"

namespace callsink {
namespace {

constexpr uint64_t kMinSegmentBytes = 64 * 1024;
constexpr uint64_t kMaxSegmentBytes = 16 * 1024 * 1024;
// While the applier keeps up, a segment is closed at this size, so that a
// journal that keeps up holds little on disk.
constexpr uint64_t kKeptUpSegmentBytes = 64 * 1024;
constexpr size_t kSegmentNameDigits = 20;

uint64_t NewIdentity() {
  std::random_device device;
  uint64_t identity = 0;
  while (identity == 0) identity = (uint64_t{device()} << 32) | device();
  return identity;
}

}  // namespace

std::string Journal::FolderFor(const std::string& spool, const std::string& server) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string folder = spool + "/";
  for (size_t i = 0; i < server.size(); ++i) {
    const auto byte = static_cast<unsigned char>(server[i]);
    const bool plain =
        std::isalnum(byte) != 0 || byte == '-' || byte == '_' || (byte == '.' && i > 0);
    if (plain) {
      folder.push_back(static_cast<char>(byte));
    } else {
      const char escaped[] = {'%', kHex[byte >> 4], kHex[byte & 15]};
      folder.append(escaped, sizeof escaped);
    }
  }
  // An empty name would be the spool folder itself.
  if (server.empty()) folder.push_back('%');
  return folder;
}

uint64_t Journal::SegmentBytesFor(uint64_t cap_bytes) {
  return std::clamp(cap_bytes / 8, kMinSegmentBytes, kMaxSegmentBytes);
}

Journal::Journal(Options options, ActivityLog* log)
    : options_(std::move(options)), files_(*options_.files), log_(log) {}

Journal::~Journal() = default;

std::string Journal::SegmentPath(uint64_t first_sequence) const {
  std::string digits = std::to_string(first_sequence);
  digits.insert(0, kSegmentNameDigits - std::min(kSegmentNameDigits, digits.size()), '0');
  return options_.folder + "/" + digits + journal::kSegmentSuffix;
}

std::vector<uint64_t> Journal::ListSegments() const {
  std::vector<uint64_t> firsts;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(options_.folder, error)) {
    const std::string name = file.path().filename();
    if (name.size() != kSegmentNameDigits + std::strlen(journal::kSegmentSuffix) ||
        !name.ends_with(journal::kSegmentSuffix) ||
        !std::all_of(name.begin(), name.begin() + kSegmentNameDigits, ::isdigit)) {
      continue;
    }
    firsts.push_back(std::stoull(name.substr(0, kSegmentNameDigits)));
  }
  std::sort(firsts.begin(), firsts.end());
  return firsts;
}

bool Journal::Open() {
  std::error_code error;
  std::filesystem::create_directories(options_.folder, error);
  if (error) {
    errno = error.value();
    return Fail("folder cannot be made", options_.folder);
  }
  std::filesystem::permissions(options_.folder, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, error);
  segments_.clear();
  pending_.clear();
  pending_count_ = 0;
  if (!Recover(ListSegments())) return false;
  if (segments_.empty()) {
    identity_ = NewIdentity();
    if (!StartSegment(next_sequence_ = 1)) return false;
  }
  return OpenState();
}

bool Journal::Recover(std::vector<uint64_t> firsts) {
  SegmentReader reader;
  // The newest segment with a whole header names the journal; a segment
  // that is not whole or not of this journal is no part of it.
  identity_ = 0;
  for (auto first = firsts.rbegin(); first != firsts.rend(); ++first) {
    const std::string path = SegmentPath(*first);
    const bool whole = reader.Open(path) && reader.header().first_sequence == *first;
    if (whole && identity_ == 0) identity_ = reader.header().identity;
    if (whole && reader.header().identity == identity_) {
      struct stat status {};
      stat(path.c_str(), &status);
      segments_.push_front({*first, static_cast<uint64_t>(status.st_size)});
      continue;
    }
    log_->Write("Journal segment %s is not whole or not of this journal: removed", path.c_str());
    files_.Remove(path);
  }
  if (segments_.empty()) return true;

  Segment& tail = segments_.back();
  const std::string path = SegmentPath(tail.first_sequence);
  uint64_t valid_bytes = 0;
  uint64_t last_sequence = 0;
  if (!ScanTail(path, tail.first_sequence, &valid_bytes, &last_sequence)) {
    return Fail("cannot be read", path);
  }
  tail_ = FileDescriptor(files_.Open(path, O_WRONLY, 0));
  if (!tail_.valid()) return Fail("cannot be opened", path);
  if (valid_bytes < tail.bytes) {
    if (!files_.Truncate(tail_.get(), valid_bytes) || !files_.Sync(tail_.get())) {
      return Fail("cannot be cut", path);
    }
    log_->Write("Journal segment %s: torn record at byte %llu cut, %llu bytes dropped",
                path.c_str(), static_cast<unsigned long long>(valid_bytes),
                static_cast<unsigned long long>(tail.bytes - valid_bytes));
    tail.bytes = valid_bytes;
  }
  uint64_t total = 0;
  for (const Segment& segment : segments_) total += segment.bytes;
  bytes_.store(total, std::memory_order_relaxed);
  durable_.store(last_sequence, std::memory_order_release);
  next_sequence_ = last_sequence + 1;
  return true;
}

bool Journal::ScanTail(const std::string& path, uint64_t first_sequence, uint64_t* valid_bytes,
                       uint64_t* last_sequence) {
  SegmentReader reader;
  if (!reader.Open(path)) return false;
  *last_sequence = first_sequence - 1;
  *valid_bytes = journal::kSegmentHeaderSize;
  journal::RecordHeader header{};
  std::span<const uint8_t> payload;
  for (;;) {
    const SegmentReader::Result result = reader.Next(&header, &payload);
    if (result == SegmentReader::Result::kEnd) return true;
    if (result == SegmentReader::Result::kRecord) {
      // A whole record numbered below the last one is old bytes: damage.
      if (header.sequence > *last_sequence) {
        *valid_bytes = reader.offset();
        *last_sequence = header.sequence;
      }
      continue;
    }
    // Damage: whole records after it are kept (the cursor passes over the
    // damage); with none after it, it is a torn tail.
    uint64_t found = 0;
    if (!reader.Resync(*last_sequence, UINT64_MAX, &found)) return true;
  }
}

bool Journal::OpenState() {
  const std::string path = options_.folder + "/" + journal::kStateFile;
  state_ = FileDescriptor(files_.Open(path, O_RDWR | O_CREAT, 0600));
  if (!state_.valid()) return Fail("cannot be opened", path);
  uint8_t bytes[journal::kStateSize] = {};
  journal::State state{};
  const bool read = pread(state_.get(), bytes, sizeof bytes, 0) == sizeof bytes &&
                    journal::DecodeState(bytes, &state) && state.identity == identity_;
  // Whatever went with the pruned segments was applied.
  uint64_t applied = segments_.front().first_sequence - 1;
  if (read) applied = std::max(applied, state.applied);
  if (applied >= next_sequence_) {
    // Applied records that the disk lost: numbering goes on after them, in
    // a segment of its own, so that no number is given twice.
    next_sequence_ = applied + 1;
    if (!StartSegment(next_sequence_)) return false;
  }
  MarkApplied(applied);
  return true;
}

bool Journal::StartSegment(uint64_t first_sequence) {
  const std::string path = SegmentPath(first_sequence);
  FileDescriptor file(files_.Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600));
  uint8_t header[journal::kSegmentHeaderSize];
  journal::EncodeSegmentHeader(header, {identity_, first_sequence});
  if (!file.valid() || !files_.WriteAt(file.get(), header, 0) || !files_.Sync(file.get()) ||
      !files_.SyncFolder(options_.folder)) {
    Fail("cannot be made", path);
    files_.Remove(path);
    return false;
  }
  tail_ = std::move(file);
  segments_.push_back({first_sequence, journal::kSegmentHeaderSize});
  bytes_.fetch_add(journal::kSegmentHeaderSize, std::memory_order_relaxed);
  return true;
}

Journal::AddResult Journal::Add(journal::EntryKind kind, int64_t received_us,
                                std::span<const uint8_t> payload) {
  const size_t size = journal::kRecordHeaderSize + payload.size();
  if (bytes() + pending_.size() + size > options_.cap_bytes) return AddResult::kFull;
  const size_t at = pending_.size();
  pending_.resize(at + size);
  journal::EncodeRecord(
      pending_.data() + at,
      {static_cast<uint32_t>(payload.size()), next_sequence_++, received_us, kind}, payload);
  if (pending_count_++ == 0) pending_since_us_ = received_us;
  return AddResult::kAdded;
}

bool Journal::Commit() {
  if (pending_count_ == 0) return true;
  Segment& tail = segments_.back();
  const size_t count = pending_count_;
  const size_t size = pending_.size();
  const bool written =
      files_.WriteAt(tail_.get(), pending_, tail.bytes) && files_.Sync(tail_.get());
  pending_.clear();
  pending_count_ = 0;
  if (!written) {
    const int error = errno;
    write_failed_ = true;
    // Whatever part of the group reached the file is cut away again, so
    // that the next group follows the last durable record.
    if (!files_.Truncate(tail_.get(), tail.bytes)) {
      log_->Write("Journal segment %s cannot be cut back: %s",
                  SegmentPath(tail.first_sequence).c_str(), std::strerror(errno));
    }
    next_sequence_ -= count;
    log_->Write("Journal segment %s: write failed (%s), %zu records dropped",
                SegmentPath(tail.first_sequence).c_str(), std::strerror(error), count);
    return false;
  }
  tail.bytes += size;
  bytes_.fetch_add(size, std::memory_order_relaxed);
  Publish(next_sequence_ - 1);
  // A segment is closed when full, and early while the applier keeps up
  // (it reads this segment already), so that the applied records soon go
  // with their segment. A failed start is logged; the records go on into
  // the old segment.
  const bool keeping_up = tail.bytes >= kKeptUpSegmentBytes && applied() >= tail.first_sequence;
  if ((tail.bytes >= options_.segment_bytes || keeping_up) && !StartSegment(next_sequence_)) {
    // No room for a segment: the tail's space is given back once applied.
    write_failed_ = true;
  }
  return true;
}

void Journal::Publish(uint64_t sequence) {
  {
    const std::lock_guard<std::mutex> lock(wake_mutex_);
    durable_.store(sequence, std::memory_order_release);
  }
  wake_.notify_all();
}

bool Journal::WaitBeyond(uint64_t sequence, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(wake_mutex_);
  return wake_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return durable() > sequence; });
}

void Journal::Prune() {
  const uint64_t done = applied();
  // After a write failed (a full disk), the newest segment gives back the
  // space of its records once they are all applied.
  if (write_failed_ && pending_count_ == 0 && done == durable() &&
      segments_.back().bytes > journal::kSegmentHeaderSize) {
    write_failed_ = !Reclaim();
  }
  while (segments_.size() > 1 && segments_[1].first_sequence - 1 <= done) {
    files_.Remove(SegmentPath(segments_.front().first_sequence));
    bytes_.fetch_sub(segments_.front().bytes, std::memory_order_relaxed);
    segments_.pop_front();
  }
}

bool Journal::Reclaim() {
  Segment& tail = segments_.back();
  const std::string path = SegmentPath(tail.first_sequence);
  // The applied position must outlast the records it stands for: without
  // them a restart would number anew from the segment's start.
  if (!WriteState(durable())) return Fail("cannot be synced", options_.folder + "/applied");
  if (!files_.Truncate(tail_.get(), journal::kSegmentHeaderSize) || !files_.Sync(tail_.get())) {
    return Fail("cannot be cut", path);
  }
  bytes_.fetch_sub(tail.bytes - journal::kSegmentHeaderSize, std::memory_order_relaxed);
  tail.bytes = journal::kSegmentHeaderSize;
  log_->Write("Journal segment %s: every record applied, its space given back", path.c_str());
  // The cut segment goes once a fresh one follows it; without one the
  // records go on in the cut one, after a gap in the numbering that the
  // cursor passes over.
  StartSegment(next_sequence_);
  return true;
}

bool Journal::WriteState(uint64_t applied) {
  uint8_t bytes[journal::kStateSize];
  journal::EncodeState(bytes, {identity_, applied});
  return files_.WriteAt(state_.get(), bytes, 0) && files_.Sync(state_.get());
}

void Journal::ReportBacklog(WorkerStats* stats) const {
  const uint64_t durable_now = durable();
  const uint64_t applied_now = applied();
  // The bytes on disk hold applied records too until their segment is
  // pruned: with nothing waiting, none are behind.
  const uint64_t waiting = durable_now > applied_now ? durable_now - applied_now : 0;
  stats->SetJournalBacklog(waiting, waiting > 0 ? bytes() : 0);
  stats->SetJournalDamagedRecords(damaged_.load(std::memory_order_relaxed));
}

void Journal::MarkApplied(uint64_t sequence) {
  applied_.store(sequence, std::memory_order_release);
  uint8_t bytes[journal::kStateSize];
  journal::EncodeState(bytes, {identity_, sequence});
  // A lost update only costs a look at the database's position.
  files_.WriteAt(state_.get(), bytes, 0);
}

bool Journal::Fail(const char* what, const std::string& path) {
  log_->Write("Journal %s %s: %s", path.c_str(), what, std::strerror(errno));
  return false;
}

}  // namespace callsink
