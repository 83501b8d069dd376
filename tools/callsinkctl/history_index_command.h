#pragma once

#include <iosfwd>
#include <string>

#include "config/config_row.h"
#include "config/database_tls_setting.h"

namespace callsink {

// `callsinkctl database add-indexes`: adds to the history tables of the
// configuration's acd_db the indexes they lack (history::kTables), online
// (ALGORITHM=INPLACE, LOCK=NONE) where the server can, so that collectors
// go on writing meanwhile. Tables of any size, one after another; while an
// index builds, a line on the terminal shows the table, the time taken and,
// where the server reports it, how far the build has come. Used on the main
// thread.
class HistoryIndexCommand {
 public:
  // Results go to `out`, failures to `err`, the progress line to `err` when
  // `progress` (a terminal). The streams must outlive the object.
  HistoryIndexCommand(std::ostream& out, std::ostream& err, bool progress);

  // True when every history table has its index afterwards.
  bool Run(const ConfigRow& config, const DatabaseTlsSetting& tls);

 private:
  std::ostream& out_;
  std::ostream& err_;
  const bool progress_;
};

}  // namespace callsink
