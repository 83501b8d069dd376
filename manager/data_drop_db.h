#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "manager/message_box.h"
#include "store/mysql_connection.h"
#include "store/schema_names.h"

namespace callsink {

// The manager's connection to the statistics database for deleting
// collected data: one ACD server's rows from the seven tables, or the whole
// database. The connection is set up as the collector's (MySqlConnection::
// Open): names travel over the same character set, so they list and match
// byte for byte, and every call is bounded in time. Failures are shown
// through `messages` with the client library's error text. Owned by one
// flow, used on its thread.
class CDataDropDb {
 public:
  // The tables a server's rows are deleted from, in this order.
  static constexpr std::array<const char*, 7> kTables = {
      schema::kGroupsTable, schema::kAgentsTable, schema::kRelationsTable, schema::kCallsTable,
      schema::kCdrTable,    schema::kStatusTable, schema::kTimeTable};

  // A history table's rows of one server go in chunks of at most this many,
  // each its own statement and transaction, so that no deletion holds
  // locks, undo or a cluster's write set of more than that, and collection
  // into the same tables goes on between the chunks.
  static constexpr uint64_t kChunkRows = 10000;

  // After each chunk: `rows` rows of `table` deleted so far.
  using Progress = std::function<void(const std::string& table, uint64_t rows)>;

  // `messages` must outlive the object.
  explicit CDataDropDb(MessageBox& messages);
  ~CDataDropDb();
  CDataDropDb(const CDataDropDb&) = delete;
  CDataDropDb& operator=(const CDataDropDb&) = delete;

  // Connects to `server` (default port; "localhost" means the local socket),
  // its link protected as `tls` says, and selects acd_db if it exists. On
  // failure shows "Connection failed: " with the reason and returns false.
  bool Connect(const std::string& server, const std::string& user, const std::string& password,
               const DatabaseTlsSetting& tls = {});
  // Appends the distinct server names found in any of kTables, each once
  // (a table that cannot be read is passed over). False, without a
  // message, when none can be read.
  bool GetServerNames(std::vector<std::string>* names);
  // Drops acd_db; on failure shows "Drop database failed: " + reason.
  bool DropDatabase();
  // Deletes the rows of server `name` (compared exactly, escaped) from each
  // table of kTables in order, the history tables in chunks of kChunkRows
  // (along their index), telling `progress` (may be empty) after each. The
  // first failure shows "Cleaning tables failed: " + reason + " (N rows
  // deleted)" and stops, leaving the later tables untouched.
  bool DeleteServerData(const std::string& name, const Progress& progress = {});

 private:
  bool Query(std::string_view statement);
  // Deletes `name`'s rows of `table`, in chunks when it is a history table;
  // adds the rows deleted to `*deleted`.
  bool DeleteFrom(const char* table, const std::string& name, const Progress& progress,
                  uint64_t* deleted);
  std::string Error() const;

  MessageBox& messages_;
  MySqlConnection m_pMysql;
};

}  // namespace callsink
