#pragma once

#include <string>

#include "config/database_tls_setting.h"

#include "manager/data_drop_dialog.h"
#include "manager/message_box.h"

namespace callsink {

// "Reset DB" of the configuration dialog: connects to the MySQL server typed
// there, offers "All" and the server names found, and drops the database or
// deletes the chosen server's rows, reporting through `messages`. Used on
// the model's thread.
class DataDropFlow {
 public:
  static constexpr const char* kAllChoice = "All";

  enum class Outcome {
    kConnectFailed,    // "Connection failed: ..." was shown; no dialog
    kCancelled,        // nothing deleted, nothing shown
    kDatabaseDropped,  // "Database deleted"
    kServerDeleted,    // "Information deleted"
    kFailed,           // "Drop database failed: ..." or "Cleaning tables failed: ..."
  };

  // Both objects must outlive the flow.
  DataDropFlow(MessageBox& messages, DataDropDialog& dialog);

  // One run, with its own connection closed at the end. The first choice
  // (index 0, "All") drops the database; any other deletes that server's
  // rows, also for a server literally named "All". The session's link is
  // protected as `tls` says.
  Outcome Run(const std::string& mysql_server, const std::string& user, const std::string& password,
              const DatabaseTlsSetting& tls = {});

 private:
  MessageBox& messages_;
  DataDropDialog& dialog_;
};

}  // namespace callsink
