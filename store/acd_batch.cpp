#include "store/acd_batch.h"

#include <utility>

#include "store/acd_database.h"
#include "store/membership_cache.h"
#include "store/statement_texts.h"

namespace callsink {
namespace {

using statement_texts::AddAgentUpdate;
using statement_texts::AddGroupMembershipsUpdate;
using statement_texts::AddGroupUpdate;
using statement_texts::AddRelationStatusUpdate;
using statement_texts::AddRelationUpdate;
using statement_texts::AddTimeDiff;
using statement_texts::FoldedAgentUpdate;
using statement_texts::FoldedGroupUpdate;
using statement_texts::FoldedRelationStatusUpdate;
using statement_texts::FoldedRelationUpdate;
using statement_texts::kCounted;

// The figures' table for each of the batch's tables, in their order.
constexpr WorkerStats::Table kCountedAs[] = {
    WorkerStats::Table::kGroups, WorkerStats::Table::kAgents, WorkerStats::Table::kRelations,
    WorkerStats::Table::kStatus, WorkerStats::Table::kCdr,    WorkerStats::Table::kCalls};

struct FormText {
  int table;
  std::string_view insert;
};

}  // namespace

AcdBatch::AcdBatch(AcdDatabase* database, MembershipCache* cache)
    : database_(database), cache_(cache) {}

void AcdBatch::Begin() {
  for (Run& run : runs_) run.rows = 0;
  time_.reset();
  receipt_age_ = 0;
  failed_ = false;
  needs_table_ = false;
}

SqlStatement& AcdBatch::Row(Form form) {
  // By Form, in its order.
  static constexpr FormText kForms[] = {
      {kGroups, statement_texts::kInsertGroup},
      {kGroups, statement_texts::kInsertGroup},
      {kAgents, statement_texts::kInsertAgent},
      {kAgents, statement_texts::kInsertAgent},
      {kRelations, statement_texts::kInsertRelation},
      {kRelations, statement_texts::kInsertRelation},
      {kRelations, statement_texts::kInsertRelationStatus},
      {kIntervals, statement_texts::kInsertInterval},
      {kCdrs, statement_texts::kInsertCdr},
      {kCalls, statement_texts::kInsertCall},
  };
  const FormText& text = kForms[static_cast<int>(form)];
  Run& run = runs_[static_cast<size_t>(text.table)];
  if (run.rows > 0 && (run.form != form || run.text.text().size() > kMaxStatementBytes)) {
    Close(run);
  }
  if (run.rows++ == 0) {
    database_->Prepare(&run.text);
    run.text.Add(text.insert);
    run.form = form;
  } else {
    run.text.Add(statement_texts::kNextRow);
  }
  return run.text;
}

void AcdBatch::Close(Run& run) {
  if (run.rows == 0) return;
  const bool one = run.rows == 1;
  switch (run.form) {
    case Form::kGroupCounted:
    case Form::kGroupUncounted: {
      const bool counted = run.form == Form::kGroupCounted;
      if (one) {
        AddGroupUpdate(run.text, run.timestamp, run.value, counted, run.calls_in_queue);
      } else {
        run.text.Add(FoldedGroupUpdate(counted));
      }
      break;
    }
    case Form::kAgentCounted:
    case Form::kAgentUncounted: {
      const bool counted = run.form == Form::kAgentCounted;
      if (one) {
        AddAgentUpdate(run.text, run.timestamp, run.full_name, run.value, counted);
      } else {
        run.text.Add(FoldedAgentUpdate(counted));
      }
      break;
    }
    case Form::kMembershipCounted:
    case Form::kMembershipUncounted: {
      const bool counted = run.form == Form::kMembershipCounted;
      if (one) {
        AddRelationUpdate(run.text, run.timestamp, run.value, counted);
      } else {
        run.text.Add(FoldedRelationUpdate(counted));
      }
      break;
    }
    case Form::kMembershipStatus:
      if (one) {
        AddRelationStatusUpdate(run.text, run.value, run.timestamp);
      } else {
        run.text.Add(FoldedRelationStatusUpdate());
      }
      break;
    case Form::kInterval:
    case Form::kCdr:
    case Form::kCall:
      run.text.Add(statement_texts::kLastRow);
      break;
  }
  const uint64_t rows = std::exchange(run.rows, 0);
  if (Send(run.text.text())) {
    database_->CountRows(kCountedAs[&run - runs_.data()], rows);
  }
}

void AcdBatch::CloseAll() {
  for (Run& run : runs_) Close(run);
}

bool AcdBatch::Send(std::string_view text) {
  if (failed_) return false;
  failed_ = !database_->Send(text);
  return !failed_;
}

void AcdBatch::NoteTime(std::string_view server, uint32_t timestamp) {
  server_ = server;
  if (timestamp != 0) time_ = uint64_t{timestamp} + receipt_age_;
}

AcdBatch::Run& AcdBatch::KeepUpdate(Table table, uint32_t timestamp, int32_t value) {
  Run& run = runs_[table];
  run.timestamp = timestamp;
  run.value = value;
  return run;
}

void AcdBatch::WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                          int32_t state, bool modified, int32_t calls_in_queue) {
  if (stopped()) return;
  Row(modified ? Form::kGroupCounted : Form::kGroupUncounted)
      .ValueList(server, group, timestamp, state, kCounted, calls_in_queue);
  KeepUpdate(kGroups, timestamp, state).calls_in_queue = calls_in_queue;
  NoteTime(server, timestamp);
}

void AcdBatch::WriteAgent(std::string_view server, std::string_view agent,
                          std::string_view full_name, uint32_t timestamp, int32_t state,
                          bool modified) {
  if (stopped()) return;
  Row(modified ? Form::kAgentCounted : Form::kAgentUncounted)
      .ValueList(server, agent, full_name, timestamp, state, kCounted);
  KeepUpdate(kAgents, timestamp, state).full_name = full_name;
  NoteTime(server, timestamp);
}

void AcdBatch::WriteRelation(std::string_view server, std::string_view group,
                             std::string_view agent, uint32_t timestamp, int32_t state,
                             bool modified) {
  if (stopped()) return;
  if (agent.empty()) {
    // Every membership of the group: one UPDATE, after the rows before it.
    if (!cache_->StandsInForGroup(group)) {
      needs_table_ = true;
      return;
    }
    Close(runs_[kRelations]);
    database_->Prepare(&single_);
    AddGroupMembershipsUpdate(single_, server, group, timestamp, state);
    if (Send(single_.text())) {
      database_->CountRows(WorkerStats::Table::kRelations, database_->AffectedRows());
    }
    cache_->WriteGroupMemberships(group, timestamp, state);
  } else {
    if (!cache_->StandsInFor(group, agent)) {
      needs_table_ = true;
      return;
    }
    Row(modified ? Form::kMembershipCounted : Form::kMembershipUncounted)
        .ValueList(server, group, agent, timestamp, state, kCounted);
    KeepUpdate(kRelations, timestamp, state);
    cache_->WriteMembership(group, agent, timestamp, state);
  }
  NoteTime(server, timestamp);
}

void AcdBatch::WriteStatusInterval(std::string_view server, std::string_view group,
                                   std::string_view agent, uint32_t timestamp, int32_t status) {
  if (stopped()) return;
  if (!cache_->StandsInFor(group, agent)) {
    needs_table_ = true;
    return;
  }
  const OpenInterval open = cache_->OpenIntervalOf(group, agent, timestamp, status);
  if (open.Closes(timestamp, status)) {
    Row(Form::kInterval).ValueList(server, group, agent, open.start, timestamp, open.status);
  }
  NoteTime(server, timestamp);
}

void AcdBatch::WriteRelationStatus(std::string_view server, std::string_view group,
                                   std::string_view agent, uint32_t timestamp, int32_t status) {
  if (stopped()) return;
  if (!cache_->StandsInFor(group, agent)) {
    needs_table_ = true;
    return;
  }
  Row(Form::kMembershipStatus).ValueList(server, group, agent, timestamp, status);
  KeepUpdate(kRelations, timestamp, status);
  cache_->WriteStatus(group, agent, timestamp, status);
}

void AcdBatch::WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                        std::string_view caller_user, std::string_view call_guid,
                        uint32_t timestamp, int32_t call_duration, int32_t call_state,
                        int32_t close_reason, int32_t queue_duration) {
  if (stopped()) return;
  Row(Form::kCdr)
      .ValueList(server, group, agent, timestamp, call_duration, caller_user, call_guid, call_state,
                 close_reason, queue_duration);
}

void AcdBatch::WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                         std::string_view call_id, uint32_t timestamp, int32_t call_state,
                         int32_t close_reason) {
  if (stopped()) return;
  Row(Form::kCall).ValueList(server, group, agent, timestamp, call_id, call_state, close_reason);
}

void AcdBatch::ClearServer(std::string_view server) {
  if (stopped()) return;
  CloseAll();
  if (failed_) return;
  failed_ = !database_->ClearServer(server);
  cache_->Clear();
}

bool AcdBatch::Finish() {
  if (stopped()) return false;
  CloseAll();
  if (time_) {
    database_->Prepare(&single_);
    AddTimeDiff(single_, server_, *time_);
    if (Send(single_.text())) database_->CountRows(WorkerStats::Table::kTime, 1);
  }
  return !failed_;
}

}  // namespace callsink
