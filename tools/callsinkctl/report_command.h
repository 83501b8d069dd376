#pragma once

#include <iosfwd>
#include <set>
#include <string>

#include "config/config_row.h"
#include "config/database_tls_setting.h"
#include "tools/callsinkctl/command_line.h"

namespace callsink {

// `callsinkctl report groups|agents|abandoned --config N [--from ...]
// [--until ...] [--interval ...] [--time-zone ...] [--server ...] [--group
// ...] [--format table|csv]`: one report of the engine over the database of
// configuration N. Used on the main thread.
class ReportCommand {
 public:
  // The options the command accepts.
  static const std::set<std::string> kOptions;

  // Results go to `out`, messages to `err`; `out_is_terminal` makes a table
  // the default format, CSV otherwise. The streams must outlive the object.
  ReportCommand(std::ostream& out, std::ostream& err, bool out_is_terminal);

  // Runs the report `line.words()[1]` names, with the database settings of
  // `config` and the sessions' `tls`; returns ControlTool's exit codes.
  int Run(const CommandLine& line, const ConfigRow& config, const DatabaseTlsSetting& tls);

 private:
  int Usage(const std::string& message);
  int Fail(const std::string& message);

  std::ostream& out_;
  std::ostream& err_;
  const bool out_is_terminal_;
};

}  // namespace callsink
