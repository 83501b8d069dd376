#include "report/report_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace callsink {
namespace {

// `value` with at most `decimals` decimals, without trailing zeros.
std::string Decimal(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string result = text;
  if (result.find('.') != std::string::npos) {
    result.erase(result.find_last_not_of('0') + 1);
    if (result.back() == '.') result.pop_back();
  }
  return result == "-0" ? "0" : result;
}

std::string Seconds(double value) { return Decimal(value, 1); }
std::string Share(double value) { return Decimal(value, 4); }

bool Numeric(const std::string& cell) {
  return !cell.empty() && cell.find_first_not_of("0123456789.-") == std::string::npos;
}

}  // namespace

ReportSheet ReportSheet::OfGroups(const std::vector<GroupRow>& rows, const TimeZone& zone) {
  ReportSheet sheet({"server", "group", "interval_start", "interval_end", "offered", "answered",
                     "abandoned", "service_level", "average_wait", "average_handle"});
  for (const GroupRow& row : rows) {
    const GroupFigures& f = row.figures;
    sheet.lines_.push_back({row.server, row.group, zone.Iso8601(row.start), zone.Iso8601(row.end),
                            std::to_string(f.offered), std::to_string(f.answered),
                            std::to_string(f.abandoned()), Share(f.service_level()),
                            Seconds(f.average_wait()), Seconds(f.average_handle())});
  }
  return sheet;
}

ReportSheet ReportSheet::OfAgents(const std::vector<AgentRow>& rows, const TimeZone& zone) {
  ReportSheet sheet({"server", "agent", "name", "interval_start", "interval_end", "logged_on",
                     "available", "on_calls", "wrap_up", "other", "answered", "occupancy"});
  for (const AgentRow& row : rows) {
    const AgentFigures& f = row.figures;
    sheet.lines_.push_back({row.server, row.agent, row.name, zone.Iso8601(row.start),
                            zone.Iso8601(row.end), std::to_string(f.logged_on),
                            std::to_string(f.available), std::to_string(f.on_calls),
                            std::to_string(f.wrap_up), std::to_string(f.other()),
                            std::to_string(f.answered), Share(f.occupancy())});
  }
  return sheet;
}

ReportSheet ReportSheet::OfAbandoned(const std::vector<AbandonedCall>& calls,
                                     const TimeZone& zone) {
  ReportSheet sheet({"server", "group", "time", "waited", "caller", "call_guid"});
  for (const AbandonedCall& call : calls) {
    sheet.lines_.push_back({call.server, call.group, zone.Iso8601(call.time),
                            std::to_string(call.waited), call.caller, call.call_guid});
  }
  return sheet;
}

std::string ReportSheet::Csv() const {
  std::string csv;
  const auto add_line = [&csv](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) csv += ',';
      const std::string& cell = cells[i];
      if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        csv += cell;
        continue;
      }
      csv += '"';
      for (const char c : cell) {
        if (c == '"') csv += '"';
        csv += c;
      }
      csv += '"';
    }
    csv += "\r\n";
  };
  add_line(header_);
  for (const auto& line : lines_) add_line(line);
  return csv;
}

std::string ReportSheet::Table() const {
  std::vector<size_t> widths;
  for (const std::string& cell : header_) widths.push_back(cell.size());
  for (const auto& line : lines_) {
    for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  std::string table;
  const auto add_line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t i = 0; i < cells.size(); ++i) {
      const std::string padding(widths[i] - cells[i].size(), ' ');
      // A name's control characters must not steer the terminal.
      std::string cell = cells[i];
      std::replace_if(
          cell.begin(), cell.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }, '?');
      if (i > 0) text += "  ";
      text += Numeric(cell) ? padding + cell : cell + padding;
    }
    text.erase(text.find_last_not_of(' ') + 1);
    table += text + "\n";
  };
  add_line(header_);
  for (const auto& line : lines_) add_line(line);
  return table;
}

}  // namespace callsink
