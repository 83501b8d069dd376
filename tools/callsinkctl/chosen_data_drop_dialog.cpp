#include "tools/callsinkctl/chosen_data_drop_dialog.h"

namespace callsink {

ChosenDataDropDialog::ChosenDataDropDialog(Terminal& terminal, std::optional<std::string> server)
    : terminal_(terminal), server_(std::move(server)) {}

std::optional<size_t> ChosenDataDropDialog::DoModal(const std::string& mysql_server,
                                                    const std::vector<std::string>& choices) {
  std::optional<size_t> chosen;
  if (!server_) {
    chosen = 0;
  } else {
    for (size_t i = 1; i < choices.size() && !chosen; ++i) {
      if (choices[i] == *server_) chosen = i;
    }
  }
  found_ = chosen.has_value();
  if (!found_) return std::nullopt;
  const std::string target = server_ ? "the data of server " + *server_ : "the whole database";
  if (!terminal_.Confirm(std::string(kQuestion) + " (" + target + " on " + mysql_server + ")")) {
    return std::nullopt;
  }
  return chosen;
}

void ChosenDataDropDialog::ShowProgress(const std::string& table, uint64_t rows) {
  if (deleted_.empty() || deleted_.back().first != table) deleted_.emplace_back(table, 0);
  deleted_.back().second = rows;
  std::string line = "Deleted from " + server_.value_or("") + ":";
  for (const auto& [name, count] : deleted_) {
    line += (line.back() == ':' ? " " : ", ") + name + " " + std::to_string(count);
  }
  terminal_.ShowProgress(line + " rows");
}

}  // namespace callsink
