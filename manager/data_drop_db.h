#pragma once

#include <array>
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
  // Appends the distinct server names found in stock_agents and
  // stock_groups. False, without a message, when they cannot be read.
  bool GetServerNames(std::vector<std::string>* names);
  // Drops acd_db; on failure shows "Drop database failed: " + reason.
  bool DropDatabase();
  // Deletes the rows of server `name` (compared exactly, escaped) from each
  // table of kTables in order; the first failure shows "Cleaning tables
  // failed: " + reason and stops, leaving the later tables untouched.
  bool DeleteServerData(const std::string& name);

 private:
  bool Query(std::string_view statement);
  std::string Error() const;

  MessageBox& messages_;
  MySqlConnection m_pMysql;
};

}  // namespace callsink
