#include "manager/data_drop_db.h"

#include <mysql.h>

namespace callsink {
namespace {

// Owns one stored result set.
struct ResultFree {
  void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
using ResultHandle = std::unique_ptr<MYSQL_RES, ResultFree>;

}  // namespace

void CDataDropDb::MysqlCloser::operator()(st_mysql* mysql) const { mysql_close(mysql); }

CDataDropDb::CDataDropDb(MessageBox& messages) : messages_(messages) {}

CDataDropDb::~CDataDropDb() = default;

std::string CDataDropDb::Error() const {
  return m_pMysql ? mysql_error(m_pMysql.get()) : "out of memory";
}

bool CDataDropDb::Query(const std::string& statement) {
  return m_pMysql && mysql_real_query(m_pMysql.get(), statement.data(), statement.size()) == 0;
}

bool CDataDropDb::Connect(const std::string& server, const std::string& user,
                          const std::string& password) {
  m_pMysql.reset(mysql_init(nullptr));
  if (m_pMysql) {
    // Bounded waits: an unreachable or hanging server must not freeze the
    // manager for good.
    const unsigned connect_timeout = kConnectTimeoutSeconds;
    const unsigned io_timeout = kReadWriteTimeoutSeconds;
    mysql_options(m_pMysql.get(), MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
    mysql_options(m_pMysql.get(), MYSQL_OPT_READ_TIMEOUT, &io_timeout);
    mysql_options(m_pMysql.get(), MYSQL_OPT_WRITE_TIMEOUT, &io_timeout);
    if (mysql_real_connect(m_pMysql.get(), server.c_str(), user.c_str(), password.c_str(), "", 0,
                           nullptr, 0) != nullptr) {
      // A missing database is no failure here: "All" still reports it.
      mysql_select_db(m_pMysql.get(), kDatabase);
      return true;
    }
  }
  messages_.Show("Connection failed: " + Error(), MessageKind::kNotice);
  return false;
}

bool CDataDropDb::GetServerNames(std::vector<std::string>* names) {
  if (!Query("select Serv_Name from stock_agents union select Serv_Name from stock_groups")) {
    return false;
  }
  const ResultHandle result(mysql_store_result(m_pMysql.get()));
  if (!result) return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    if (row[0] == nullptr) continue;
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    names->emplace_back(row[0], lengths[0]);
  }
  return true;
}

bool CDataDropDb::DropDatabase() {
  if (Query(std::string("drop database ") + kDatabase)) return true;
  messages_.Show("Drop database failed: " + Error(), MessageKind::kNotice);
  return false;
}

bool CDataDropDb::DeleteServerData(const std::string& name) {
  if (!m_pMysql) return false;
  // Escaped for the connection's character set, so that a name holding a
  // quote or a backslash selects exactly its own rows.
  std::string escaped(name.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(m_pMysql.get(), escaped.data(), name.data(),
                                          static_cast<unsigned long>(name.size())));
  for (const char* table : kTables) {
    if (!Query(std::string("delete from ") + table + " where Serv_Name=\"" + escaped + "\"")) {
      messages_.Show("Cleaning tables failed: " + Error(), MessageKind::kNotice);
      return false;
    }
  }
  return true;
}

}  // namespace callsink
