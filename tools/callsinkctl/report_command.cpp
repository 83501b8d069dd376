#include "tools/callsinkctl/report_command.h"

#include <mysql.h>
#include <mysqld_error.h>

#include <ctime>
#include <ostream>

#include "report/report_engine.h"
#include "report/report_request.h"
#include "report/report_sheet.h"
#include "store/mysql_connection.h"
#include "store/schema_names.h"
#include "tools/callsinkctl/control_tool.h"

namespace callsink {

const std::set<std::string> ReportCommand::kOptions = {"config",    "from",   "until", "interval",
                                                       "time-zone", "server", "group", "format"};

ReportCommand::ReportCommand(std::ostream& out, std::ostream& err, bool out_is_terminal)
    : out_(out), err_(err), out_is_terminal_(out_is_terminal) {}

int ReportCommand::Usage(const std::string& message) {
  err_ << "callsinkctl: " << message << "\n(callsinkctl help shows the commands)\n";
  return ControlTool::kUsage;
}

int ReportCommand::Fail(const std::string& message) {
  err_ << "callsinkctl: " << message << "\n";
  return ControlTool::kFailure;
}

int ReportCommand::Run(const CommandLine& line, const ConfigRow& config,
                       const DatabaseTlsSetting& tls) {
  const std::string& kind = line.words()[1];
  if (kind != "groups" && kind != "agents" && kind != "abandoned") {
    return Usage("the report is groups, agents or abandoned, not " + kind);
  }
  const std::string format = line.Value("format").value_or(out_is_terminal_ ? "table" : "csv");
  if (format != "table" && format != "csv") {
    return Usage("the format is table or csv, not " + format);
  }
  ReportRequest request{line.Value("from"),
                        line.Value("until"),
                        line.Value("interval"),
                        line.Value("time-zone"),
                        {},
                        {}};
  if (const auto server = line.Value("server")) request.servers.push_back(*server);
  if (const auto group = line.Value("group")) request.groups.push_back(*group);
  std::string error;
  const std::optional<ReportParameters> parameters = request.Read(std::time(nullptr), &error);
  if (!parameters) return Usage(error);

  const std::string& host = config[kMysqlServer];
  MySqlConnection connection;
  if (!connection.Open(host, config[kMysqlUser], config[kMysqlPassword], tls)) {
    const std::string reason = connection.ErrorText();
    return Fail("cannot reach the database server " + host + ": " +
                (reason.empty() ? "out of memory" : reason));
  }
  if (mysql_select_db(connection.get(), schema::kDatabase) != 0) {
    if (mysql_errno(connection.get()) == ER_BAD_DB_ERROR) {
      return Fail(std::string("there is no database ") + schema::kDatabase + " on " + host +
                  ": the collector has stored nothing there yet");
    }
    return Fail(std::string("cannot use ") + schema::kDatabase + " on " + host + ": " +
                mysql_error(connection.get()));
  }

  ReportEngine engine(connection);
  const std::optional<ReportSheet> sheet = engine.Sheet(kind, *parameters);
  if (!sheet) return Fail("cannot read the report from " + host + ": " + engine.error());
  if (sheet->lines().empty()) {
    err_ << "callsinkctl: no data for the " << kind << " report in "
         << parameters->time_zone.Iso8601(parameters->from) << " to "
         << parameters->time_zone.Iso8601(parameters->until) << "\n";
    // A spreadsheet still gets its columns.
    if (format == "table") return ControlTool::kSuccess;
  }
  out_ << (format == "csv" ? sheet->Csv() : sheet->Table());
  return ControlTool::kSuccess;
}

}  // namespace callsink
