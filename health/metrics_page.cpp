#include "health/metrics_page.h"

#include <array>
#include <charconv>
#include <ctime>
#include <functional>

#include "health/metrics_text.h"

namespace callsink {
namespace {

using Label = MetricsText::Label;
using Snapshot = WorkerStats::Snapshot;

constexpr const char* kLinkNames[WorkerStats::kLinkCount] = {"acd", "database"};

// One worker's figures with its labels, for the families' writers.
struct Row {
  const Snapshot& figures;
  std::array<Label, 3> labels;  // server, config, and one of the family's own

  std::span<const Label> Base() const { return {labels.data(), 2}; }
  std::span<const Label> With(const char* name, std::string_view value) {
    labels[2] = {name, value};
    return labels;
  }
};

double Seconds(int64_t milliseconds) { return static_cast<double>(milliseconds) / 1000.0; }

void WriteMessages(MetricsText& page, Row& row, std::string_view name) {
  uint64_t unknown = row.figures.other_messages;
  std::array<Label, 4> labels{row.labels[0], row.labels[1]};
  for (size_t c = 0; c < WorkerStats::kClassCount; ++c) {
    for (size_t t = 0; t < WorkerStats::kTypeCount; ++t) {
      const char* type = MetricsPage::kTypeNames[c][t];
      if (type == nullptr) {
        unknown += row.figures.messages[c][t];
        continue;
      }
      labels[2] = {"class", MetricsPage::kClassNames[c]};
      labels[3] = {"type", type};
      page.Sample(name, labels, row.figures.messages[c][t]);
    }
  }
  labels[2] = {"class", MetricsPage::kUnknown};
  labels[3] = {"type", MetricsPage::kUnknown};
  page.Sample(name, labels, unknown);
}

template <size_t N>
void WritePerLink(MetricsText& page, Row& row, std::string_view name,
                  const std::array<uint64_t, N>& values) {
  for (size_t i = 0; i < N; ++i) page.Sample(name, row.With("link", kLinkNames[i]), values[i]);
}

void WriteLatency(MetricsText& page, Row& row, std::string_view name) {
  uint64_t cumulative = 0;
  char bound[32];
  for (size_t i = 0; i < row.figures.latency_buckets.size(); ++i) {
    cumulative += row.figures.latency_buckets[i];
    std::string_view le = "+Inf";
    if (i < WorkerStats::kApplyLatencyBounds.size()) {
      const auto end =
          std::to_chars(bound, bound + sizeof bound, WorkerStats::kApplyLatencyBounds[i]).ptr;
      le = std::string_view(bound, static_cast<size_t>(end - bound));
    }
    page.Sample(std::string(name) + "_bucket", row.With("le", le), cumulative);
  }
  page.Sample(std::string(name) + "_sum", row.Base(), row.figures.latency_sum_seconds);
  page.Sample(std::string(name) + "_count", row.Base(), row.figures.latency_count);
}

// Writes one worker's samples of the family `name`.
using Writer = std::function<void(MetricsText&, Row&, std::string_view name)>;

// A family of the workers' figures: its lines, then `write` for every worker
// (`journal`: only for the workers a journal feeds; no lines without one).
struct Family {
  const char* name;
  const char* type;
  const char* help;
  bool journal;
  Writer write;
};

// A family of one sample per worker: the figure `field`.
template <typename Value>
Writer Single(Value Snapshot::*field) {
  return [field](MetricsText& page, Row& row, std::string_view name) {
    page.Sample(name, row.Base(), row.figures.*field);
  };
}

// A time of the collector's clock, kept in milliseconds, served in seconds.
Writer Time(int64_t Snapshot::*field) {
  return [field](MetricsText& page, Row& row, std::string_view name) {
    page.Sample(name, row.Base(), Seconds(row.figures.*field));
  };
}

// A count per link.
Writer PerLink(std::array<uint64_t, WorkerStats::kLinkCount> Snapshot::*field) {
  return [field](MetricsText& page, Row& row, std::string_view name) {
    WritePerLink(page, row, name, row.figures.*field);
  };
}

const std::vector<Family>& WorkerFamilies() {
  static const std::vector<Family> families = {
      {"callsink_messages_received_total", "counter",
       "Messages read from the ACD server, by class and type.", false, WriteMessages},
      {"callsink_events_last_minute", "gauge", "Events read from the ACD server in the last 60 s.",
       false, Single(&Snapshot::events_last_minute)},
      {"callsink_rows_written_total", "counter",
       "Rows inserted or updated in acd_db by statements that succeeded, by table.", false,
       [](MetricsText& page, Row& row, std::string_view name) {
         for (size_t t = 0; t < WorkerStats::kTableCount; ++t) {
           page.Sample(name, row.With("table", WorkerStats::kTableNames[t]), row.figures.rows[t]);
         }
       }},
      {"callsink_statements_failed_total", "counter", "Statements the database refused.", false,
       Single(&Snapshot::failed_statements)},
      {"callsink_connects_total", "counter", "Links brought up, by link (acd, database).", false,
       PerLink(&Snapshot::connects)},
      {"callsink_connect_retries_total", "counter",
       "Connect attempts that failed and are retried, by link.", false,
       PerLink(&Snapshot::retries)},
      {"callsink_connection_losses_total", "counter", "Established links that were lost, by link.",
       false, PerLink(&Snapshot::losses)},
      {"callsink_link_up", "gauge",
       "1 while the link is up as the worker sees it, else 0, by link.", false,
       [](MetricsText& page, Row& row, std::string_view name) {
         std::array<uint64_t, WorkerStats::kLinkCount> up{};
         for (size_t i = 0; i < up.size(); ++i) up[i] = row.figures.link_up[i] ? 1 : 0;
         WritePerLink(page, row, name, up);
       }},
      {"callsink_last_message_timestamp_seconds", "gauge",
       "When the last message was read from the ACD server (0: never).", false,
       Time(&Snapshot::last_message_ms)},
      {"callsink_last_commit_timestamp_seconds", "gauge",
       "When rows were last committed to acd_db (0: never).", false,
       Time(&Snapshot::last_commit_ms)},
      {"callsink_table_id_used_ratio", "gauge",
       "Share of the ID column's range the table's auto-increment has used, by table (read at "
       "each database connect and hourly).",
       false,
       [](MetricsText& page, Row& row, std::string_view name) {
         for (size_t t = 0; t < WorkerStats::kTableCount; ++t) {
           if (row.figures.id_used[t] <= 0) continue;
           page.Sample(name, row.With("table", WorkerStats::kTableNames[t]),
                       row.figures.id_used[t]);
         }
       }},
      {"callsink_database_tls", "gauge",
       "1 when the latest database session is encrypted (TLS), else 0.", false,
       [](MetricsText& page, Row& row, std::string_view name) {
         page.Sample(name, row.Base(), uint64_t{row.figures.database_tls ? 1U : 0U});
       }},
      {"callsink_database_certificate_expiry_days", "gauge",
       "Days until the database server's certificate ends, as the latest encrypted session "
       "read it.",
       false,
       [](MetricsText& page, Row& row, std::string_view name) {
         if (row.figures.database_certificate_end == 0) return;
         const auto seconds = static_cast<double>(row.figures.database_certificate_end -
                                                  static_cast<int64_t>(std::time(nullptr)));
         page.Sample(name, row.Base(), seconds / 86400.0);
       }},
      {"callsink_retention_deleted_rows_total", "counter",
       "History rows deleted by retention (RetentionDays), by table.", false,
       [](MetricsText& page, Row& row, std::string_view name) {
         for (const auto t :
              {WorkerStats::Table::kStatus, WorkerStats::Table::kCdr, WorkerStats::Table::kCalls}) {
           const auto index = static_cast<size_t>(t);
           page.Sample(name, row.With("table", WorkerStats::kTableNames[index]),
                       row.figures.retention_deleted[index]);
         }
       }},
      {"callsink_journal_backlog_entries", "gauge", "Journal entries not yet applied.", true,
       Single(&Snapshot::backlog_entries)},
      {"callsink_journal_backlog_bytes", "gauge", "Bytes of the journal entries not yet applied.",
       true, Single(&Snapshot::backlog_bytes)},
      {"callsink_journal_cap_bytes", "gauge",
       "The journal's size cap; at the cap the worker falls back to dropping the ACD link.", true,
       Single(&Snapshot::cap_bytes)},
      {"callsink_journal_damaged_records_total", "counter",
       "Journal records lost to damage on disk (found unreadable, skipped).", true,
       Single(&Snapshot::damaged_records)},
      {"callsink_apply_lag_seconds", "gauge",
       "Receipt to commit of the newest journal entry applied.", true,
       Single(&Snapshot::apply_lag_seconds)},
      {"callsink_apply_latency_seconds", "histogram",
       "Receipt to commit of each journal entry applied.", true, WriteLatency},
  };
  return families;
}

// The process's figures under the names exporters usually give them: one
// unlabelled sample each.
template <typename Value>
void WriteProcessFigure(MetricsText& page, const char* name, const char* type, const char* help,
                        Value value) {
  page.Family(name, type, help);
  page.Sample(name, {}, value);
}

void WriteProcess(MetricsText& page, const ProcessFigures& process) {
  WriteProcessFigure(page, "process_cpu_seconds_total", "counter",
                     "User and system CPU time spent in seconds.", process.cpu_seconds);
  WriteProcessFigure(page, "process_start_time_seconds", "gauge",
                     "Start time of the process since unix epoch in seconds.",
                     process.start_time_seconds);
  WriteProcessFigure(page, "process_resident_memory_bytes", "gauge",
                     "Resident memory size in bytes.", process.resident_bytes);
  WriteProcessFigure(page, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
                     process.virtual_bytes);
  WriteProcessFigure(page, "process_open_fds", "gauge", "Number of open file descriptors.",
                     process.open_fds);
  WriteProcessFigure(page, "process_max_fds", "gauge", "Maximum number of open file descriptors.",
                     process.max_fds);
}

}  // namespace

std::string MetricsPage::Render(const ProcessFigures& process) const {
  std::vector<Snapshot> snapshots;
  std::vector<std::string> numbers;
  snapshots.reserve(workers_.size());
  numbers.reserve(workers_.size());
  bool any_journal = false;
  for (const Worker& worker : workers_) {
    snapshots.push_back(worker.stats->Read());
    numbers.push_back(std::to_string(worker.config));
    any_journal = any_journal || snapshots.back().journal;
  }
  MetricsText page;
  for (const Family& family : WorkerFamilies()) {
    if (family.journal && !any_journal) continue;
    page.Family(family.name, family.type, family.help);
    for (size_t i = 0; i < workers_.size(); ++i) {
      if (family.journal && !snapshots[i].journal) continue;
      Row row{snapshots[i], {Label{"server", workers_[i].server}, Label{"config", numbers[i]}}};
      family.write(page, row, family.name);
    }
  }
  WriteProcess(page, process);
  return page.text();
}

}  // namespace callsink
