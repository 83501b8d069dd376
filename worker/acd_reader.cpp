#include "worker/acd_reader.h"

#include <span>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_connection.h"
#include "worker/journal.h"
#include "worker/link_state.h"
#include "worker/message_dispatch.h"
#include "worker/statistics_writer.h"

namespace callsink {
namespace {

constexpr const char* kAnyFilter = "*";

// The reader handles a message only for its requests and lines; the
// applier makes the writes later, from the journal.
class DiscardingWriter : public StatisticsWriter {
 public:
  void WriteGroup(std::string_view, std::string_view, uint32_t, int32_t, bool, int32_t) override {}
  void WriteAgent(std::string_view, std::string_view, std::string_view, uint32_t, int32_t,
                  bool) override {}
  void WriteRelation(std::string_view, std::string_view, std::string_view, uint32_t, int32_t,
                     bool) override {}
  void WriteStatusInterval(std::string_view, std::string_view, std::string_view, uint32_t,
                           int32_t) override {}
  void WriteRelationStatus(std::string_view, std::string_view, std::string_view, uint32_t,
                           int32_t) override {}
  void WriteCdr(std::string_view, std::string_view, std::string_view, std::string_view,
                std::string_view, uint32_t, int32_t, int32_t, int32_t, int32_t) override {}
  void WriteCall(std::string_view, std::string_view, std::string_view, std::string_view, uint32_t,
                 int32_t, int32_t) override {}
};

}  // namespace

AcdReader::AcdReader(const WorkerParts& parts) : parts_(parts) {}

void AcdReader::Run() {
  while (RunPass() && !parts_.close_event->Wait(parts_.options->retry_interval_ms)) {
  }
  CommitGroup();
}

bool AcdReader::RunPass() {
  parts_.state->SetAcd(false);
  if (journal_stopped_ && !WaitForTheApplier()) return false;
  AcdConnection connection(parts_.log, parts_.close_event);
  const auto port = static_cast<uint16_t>(parts_.config.acdPort & 0xFFFF);
  while (!connection.Connect(parts_.config.acdServer, port)) {
    parts_.stats->CountRetry(WorkerStats::Link::kAcd);
    if (parts_.close_event->Wait(parts_.options->retry_interval_ms)) return false;
  }
  parts_.stats->CountConnect(WorkerStats::Link::kAcd);
  parts_.state->SetAcd(true);
  // The directory is only sent at the start of a pass: the applier clears
  // the old one at this point of the journal.
  if (Keep(parts_.options->now_us(), nullptr, 0, true)) Dispatch(connection);
  connection.Close();
  CommitGroup();
  if (parts_.close_event->IsSet()) return false;
  // The state keeps "Y" until the next pass; the figures say at once that
  // the link is down.
  parts_.stats->CountLoss(WorkerStats::Link::kAcd);
  parts_.stats->SetLinkUp(WorkerStats::Link::kAcd, false);
  return true;
}

void AcdReader::Dispatch(AcdConnection& connection) {
  // A request that cannot be sent shows up as a failed read right after.
  connection.GetGroups();
  connection.GetAllAgents();
  connection.SubscribeConfig();
  connection.SubscribeCDR(kAnyFilter);
  connection.SubscribeStatus(kAnyFilter, kAnyFilter);
  connection.SubscribeCall(kAnyFilter);

  DiscardingWriter discard;
  MessageDispatch dispatch(parts_.config.acdServer, parts_.log, &connection, &discard);
  buffer_.fill(0);
  for (;;) {
    if (parts_.close_event->IsSet()) return;
    if (parts_.journal->pending() > 0) {
      const int64_t due_us = parts_.journal->pending_since_us() + parts_.options->group_ms * 1000 -
                             parts_.options->now_us();
      if ((due_us <= 0 || !connection.HasDataWithin(static_cast<int>(due_us / 1000) + 1)) &&
          !CommitGroup()) {
        return;
      }
    }
    AcdHeader header;
    size_t body_length = 0;
    if (!ReadMessage(connection, &header, &body_length)) return;
    const int64_t received_us = parts_.options->now_us();
    parts_.stats->CountMessage(header.msg_class, header.msg_type);
    if (!Keep(received_us, buffer_.data(), wire::kHeaderSize + body_length, false)) return;
    dispatch.Handle(header, buffer_.data() + wire::kHeaderSize, body_length,
                    static_cast<uint32_t>(received_us / 1000000));
  }
}

bool AcdReader::ReadMessage(AcdConnection& connection, AcdHeader* header, size_t* body_length) {
  uint8_t* const bytes = buffer_.data();
  if (connection.Receive(bytes, wire::kHeaderSize, 0) <= 0) return false;
  *header = HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(bytes, wire::kHeaderSize));
  const std::optional<size_t> length = BodyLength(*header);
  if (!length) {
    // Nothing after such a header can be trusted to start a message: the
    // stream has lost its framing, so the pass ends and reconnects.
    parts_.log->Write("Message length %u out of range (%zu to %zu), connection dropped",
                      header->length, wire::kHeaderSize, wire::kMaxMessageSize);
    connection.Close();
    return false;
  }
  *body_length = *length;
  // A message of header only (the subscription responses) has no body to read.
  if (*length == 0) return true;
  return connection.Receive(bytes + wire::kHeaderSize, *length, 0) > 0;
}

bool AcdReader::Keep(int64_t received_us, const uint8_t* bytes, size_t length, bool pass_start) {
  const auto kind = pass_start ? journal::EntryKind::kPassStart : journal::EntryKind::kMessage;
  if (parts_.journal->Add(kind, received_us, {bytes, length}) == Journal::AddResult::kFull) {
    if (CommitGroup()) Stop(true);
    return false;
  }
  return parts_.journal->pending() < parts_.options->group_entries || CommitGroup();
}

bool AcdReader::CommitGroup() {
  if (parts_.journal->pending() == 0) return true;
  if (!parts_.journal->Commit()) {
    Stop(false);
    return false;
  }
  reported_ = false;
  parts_.journal->Prune();
  parts_.journal->ReportBacklog(parts_.stats);
  return true;
}

void AcdReader::Stop(bool full) {
  journal_stopped_ = true;
  // The link goes down now and stays down until the backlog is applied.
  parts_.state->SetAcd(false);
  // Once for each time the journal stops taking messages, however often the
  // reader tries again meanwhile.
  if (reported_) return;
  reported_ = true;
  const auto bytes = static_cast<unsigned long long>(parts_.journal->bytes());
  const auto cap = static_cast<unsigned long long>(parts_.journal->cap_bytes());
  if (full) {
    parts_.log->Write(
        "Journal full (%llu of %llu bytes): ACD link dropped until the backlog is applied", bytes,
        cap);
  } else {
    parts_.log->Write(
        "Journal cannot be written (%llu of %llu bytes): ACD link dropped until the backlog is "
        "applied",
        bytes, cap);
  }
}

bool AcdReader::WaitForTheApplier() {
  while (parts_.journal->applied() < parts_.journal->durable()) {
    if (parts_.close_event->Wait(parts_.options->retry_interval_ms / 10)) return false;
  }
  parts_.journal->Prune();
  journal_stopped_ = false;
  return true;
}

}  // namespace callsink
