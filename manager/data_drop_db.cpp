#include "manager/data_drop_db.h"

#include <mysql.h>

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
  if (!Query("select Serv_Name from stock_agents union select Serv_Name from stock_groups")) {
    return false;
  }
  const MySqlResult result(mysql_store_result(m_pMysql.get()));
  if (!result) return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    if (row[0] == nullptr) continue;
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    names->emplace_back(row[0], lengths[0]);
  }
  return true;
}

bool CDataDropDb::DropDatabase() {
  if (Query(std::string("drop database ") + schema::kDatabase)) return true;
  messages_.Show("Drop database failed: " + Error(), MessageKind::kNotice);
  return false;
}

bool CDataDropDb::DeleteServerData(const std::string& name) {
  if (!m_pMysql) return false;
  SqlStatement statement;
  for (const char* table : kTables) {
    // The name is escaped for the connection, so that one holding a quote or
    // a backslash selects exactly its own rows.
    statement.Begin(m_pMysql.get()).Add("delete from ").Add(table).Add(" where Serv_Name=");
    statement.Quoted(name);
    if (!Query(statement.text())) {
      messages_.Show("Cleaning tables failed: " + Error(), MessageKind::kNotice);
      return false;
    }
  }
  return true;
}

}  // namespace callsink
