#include "manager/data_drop_flow.h"

#include <vector>

#include "manager/data_drop_db.h"

namespace callsink {

DataDropFlow::DataDropFlow(MessageBox& messages, DataDropDialog& dialog)
    : messages_(messages), dialog_(dialog) {}

DataDropFlow::Outcome DataDropFlow::Run(const std::string& mysql_server, const std::string& user,
                                        const std::string& password,
                                        const DatabaseTlsSetting& tls) {
  CDataDropDb db(messages_);
  if (!db.Connect(mysql_server, user, password, tls)) return Outcome::kConnectFailed;
  std::vector<std::string> choices{kAllChoice};
  db.GetServerNames(&choices);  // unreadable names leave only "All"
  const std::optional<size_t> chosen = dialog_.DoModal(mysql_server, choices);
  if (!chosen || *chosen >= choices.size()) return Outcome::kCancelled;
  // Told apart by position: a server that is itself named "All" is one of
  // the later entries and is cleaned alone.
  if (*chosen == 0) {
    if (!db.DropDatabase()) return Outcome::kFailed;
    messages_.Show("Database deleted", MessageKind::kNotice);
    return Outcome::kDatabaseDropped;
  }
  const bool deleted = db.DeleteServerData(
      choices[*chosen],
      [this](const std::string& table, uint64_t rows) { dialog_.ShowProgress(table, rows); });
  dialog_.EndProgress();
  if (!deleted) return Outcome::kFailed;
  messages_.Show("Information deleted", MessageKind::kNotice);
  return Outcome::kServerDeleted;
}

}  // namespace callsink
