#include "tools/callsinkctl/history_index_command.h"

#include <mysql.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <vector>

#include "store/history_tables.h"
#include "store/mysql_connection.h"
#include "store/mysql_result.h"
#include "store/schema_names.h"

namespace callsink {
namespace {

using Clock = std::chrono::steady_clock;

std::string Error(const MySqlConnection& connection) {
  return connection ? mysql_error(connection.get()) : "out of memory";
}

long SecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
}

// The share of its work the statement of session `id` has done, as the
// server reports it ("" when it does not).
std::string Progress(const MySqlConnection& watcher, unsigned long id) {
  if (!watcher) return "";
  const std::string query =
      "select PROGRESS from information_schema.PROCESSLIST where ID=" + std::to_string(id);
  if (mysql_real_query(watcher.get(), query.data(), query.size()) != 0) return "";
  const MySqlResult result(mysql_store_result(watcher.get()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr || row[0] == nullptr || std::string_view(row[0]).starts_with("0.000")) {
    return "";
  }
  return std::string(", ") + row[0] + " %";
}

}  // namespace

HistoryIndexCommand::HistoryIndexCommand(std::ostream& out, std::ostream& err, bool progress)
    : out_(out), err_(err), progress_(progress) {}

bool HistoryIndexCommand::Run(const ConfigRow& config, const DatabaseTlsSetting& tls) {
  MySqlConnection builder;
  if (!builder.Open(config[kMysqlServer], config[kMysqlUser], config[kMysqlPassword], tls) ||
      mysql_select_db(builder.get(), schema::kDatabase) != 0) {
    err_ << "callsinkctl: " << Error(builder) << "\n";
    return false;
  }
  std::vector<history::MissingIndex> missing;
  if (!history::FindMissingIndexes(builder.get(), 0, &missing)) {
    err_ << "callsinkctl: " << Error(builder) << "\n";
    return false;
  }
  if (missing.empty()) {
    out_ << "Every history table has its indexes\n";
    return true;
  }
  // A second session asks the server how far the build has come.
  MySqlConnection watcher;
  if (progress_ &&
      !watcher.Open(config[kMysqlServer], config[kMysqlUser], config[kMysqlPassword], tls)) {
    watcher.Close();
  }
  for (const history::MissingIndex& lacking : missing) {
    const Clock::time_point started = Clock::now();
    const std::string label = std::string(lacking.index->table) + ": adding the index on (" +
                              lacking.index->shown_columns + ")";
    const auto send = [&](const std::string& text) {
      MYSQL* handle = builder.get();
      if (mysql_send_query(handle, text.data(), static_cast<unsigned long>(text.size())) != 0) {
        return false;
      }
      // The answer comes when the build is done, minutes later on a big
      // table: far beyond the session's read limit, so it is waited for here.
      pollfd socket{static_cast<int>(mysql_get_socket(handle)), POLLIN, 0};
      while (poll(&socket, 1, 1000) == 0) {
        if (progress_) {
          err_ << "\r\33[K" << label << ", " << SecondsSince(started) << " s"
               << Progress(watcher, mysql_thread_id(handle)) << std::flush;
        }
      }
      return mysql_read_query_result(handle) == 0;
    };
    const bool added = history::AddIndex(builder.get(), *lacking.index, send);
    if (progress_) err_ << "\r\33[K" << std::flush;
    if (!added) {
      err_ << "callsinkctl: " << lacking.index->table << ": " << Error(builder) << "\n";
      return false;
    }
    out_ << lacking.index->table << ": index on (" << lacking.index->shown_columns << ") added in "
         << SecondsSince(started) << " s\n";
  }
  return true;
}

}  // namespace callsink
