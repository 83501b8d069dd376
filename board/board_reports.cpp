#include "board/board_reports.h"

#include <mysql.h>

#include <ctime>
#include <optional>
#include <string>

#include "report/report_engine.h"
#include "report/report_request.h"
#include "store/mysql_connection.h"
#include "store/schema_names.h"

namespace callsink {
namespace {

std::optional<std::string> Value(const WebRequest& request, const char* name) {
  const auto found = request.params.find(name);
  if (found == request.params.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

std::vector<std::string> Values(const WebRequest& request, const char* name) {
  std::vector<std::string> values;
  const auto [first, last] = request.params.equal_range(name);
  for (auto value = first; value != last; ++value) {
    if (!value->second.empty()) values.push_back(value->second);
  }
  return values;
}

WebAnswer Refusal(int status, const std::string& reason) {
  return {status, {{"Cache-Control", "no-store"}}, reason + "\n", "text/plain; charset=utf-8"};
}

}  // namespace

WebAnswer BoardReports::Answer(const WebRequest& request) const {
  const std::string kind = Value(request, "kind").value_or("");
  if (kind != "groups" && kind != "agents" && kind != "abandoned") {
    return Refusal(400, "the report is groups, agents or abandoned");
  }
  ReportRequest asked{Value(request, "from"),     Value(request, "until"),
                      Value(request, "interval"), Value(request, "time_zone"),
                      Values(request, "server"),  Values(request, "group")};
  if (!asked.time_zone && !settings_.time_zone.empty()) asked.time_zone = settings_.time_zone;
  std::string error;
  const std::optional<ReportParameters> parameters = asked.Read(std::time(nullptr), &error);
  if (!parameters) return Refusal(400, error);

  MySqlConnection connection;
  if (!connection.Open(settings_.database_host, settings_.user, settings_.password) ||
      mysql_select_db(connection.get(), schema::kDatabase) != 0) {
    return Refusal(503, "Database unreachable: " + connection.ErrorText());
  }
  ReportEngine engine(connection);
  const std::optional<ReportSheet> sheet = engine.Sheet(kind, *parameters);
  if (!sheet) return Refusal(503, "The report cannot be read: " + engine.error());
  // Names are acd_db's bytes, one character each.
  WebAnswer answer{
      200, {{"Cache-Control", "no-store"}}, sheet->Csv(), "text/csv; charset=iso-8859-1"};
  if (Value(request, "download")) {
    answer.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + kind + ".csv\"");
  }
  return answer;
}

}  // namespace callsink
