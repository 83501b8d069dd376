#include "manager/data_drop_db.h"

#include <mysql.h>

#include <algorithm>
#include <set>

#include "store/history_tables.h"
#include "store/mysql_result.h"
#include "store/sql_statement.h"

namespace callsink {

CDataDropDb::CDataDropDb(MessageBox& messages) : messages_(messages) {}

CDataDropDb::~CDataDropDb() = default;

std::string CDataDropDb::Error() const { return m_pMysql ? m_pMysql.ErrorText() : "out of memory"; }

bool CDataDropDb::Query(std::string_view statement) {
  return m_pMysql && mysql_real_query(m_pMysql.get(), statement.data(), statement.size()) == 0;
}

bool CDataDropDb::Connect(const std::string& server, const std::string& user,
                          const std::string& password, const DatabaseTlsSetting& tls) {
  // Bounded waits: an unreachable or hanging server must not freeze the
  // manager for good.
  if (m_pMysql.Open(server, user, password, tls)) {
    // A missing database is no failure here: "All" still reports it.
    mysql_select_db(m_pMysql.get(), schema::kDatabase);
    return true;
  }
  messages_.Show("Connection failed: " + Error(), MessageKind::kNotice);
  return false;
}

bool CDataDropDb::GetServerNames(std::vector<std::string>* names) {
  // A deletion that failed part of the way leaves rows in the later tables
  // only: the server is offered again so that it can be finished.
  bool read_any = false;
  std::set<std::string> found;
  for (const char* table : kTables) {
    if (!Query(std::string("select distinct Serv_Name from ") + table)) continue;
    const MySqlResult result(mysql_store_result(m_pMysql.get()));
    if (!result) continue;
    read_any = true;
    while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
      if (row[0] == nullptr) continue;
      const unsigned long* lengths = mysql_fetch_lengths(result.get());
      std::string name(row[0], lengths[0]);
      if (found.insert(name).second) names->push_back(std::move(name));
    }
  }
  return read_any;
}

bool CDataDropDb::DropDatabase() {
  if (Query(std::string("drop database ") + schema::kDatabase)) return true;
  messages_.Show("Drop database failed: " + Error(), MessageKind::kNotice);
  return false;
}

bool CDataDropDb::DeleteServerData(const std::string& name, const Progress& progress) {
  if (!m_pMysql) return false;
  uint64_t deleted = 0;
  for (const char* table : kTables) {
    if (!DeleteFrom(table, name, progress, &deleted)) {
      messages_.Show(
          "Cleaning tables failed: " + Error() + " (" + std::to_string(deleted) + " rows deleted)",
          MessageKind::kNotice);
      return false;
    }
  }
  return true;
}

bool CDataDropDb::DeleteFrom(const char* table, const std::string& name, const Progress& progress,
                             uint64_t* deleted) {
  const auto history =
      std::find_if(history::kTables.begin(), history::kTables.end(),
                   [&](const history::Table& t) { return std::string_view(t.name) == table; });
  SqlStatement statement;
  if (history == history::kTables.end()) {
    // The name is escaped for the connection, so that one holding a quote
    // or a backslash selects exactly its own rows.
    statement.Begin(m_pMysql.get()).Add("delete from ").Add(table).Add(" where Serv_Name=");
    statement.Quoted(name);
    if (!Query(statement.text())) return false;
    *deleted += mysql_affected_rows(m_pMysql.get());
    return true;
  }
  // Each chunk commits on its own (autocommit).
  for (uint64_t rows = 0;;) {
    history::AddServerChunkDelete(statement.Begin(m_pMysql.get()), *history, name, kChunkRows);
    if (!Query(statement.text())) return false;
    const uint64_t chunk = mysql_affected_rows(m_pMysql.get());
    rows += chunk;
    *deleted += chunk;
    if (progress) progress(table, rows);
    if (chunk < kChunkRows) return true;
  }
}

}  // namespace callsink
