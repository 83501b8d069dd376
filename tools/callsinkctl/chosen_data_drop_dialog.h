#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "manager/data_drop_dialog.h"
#include "tools/callsinkctl/terminal.h"

namespace callsink {

// The "Database delete" dialog of a command line: the choice was made on the
// command line (the whole database, or one server by name), and the dialog's
// question is asked through the Terminal.
class ChosenDataDropDialog : public DataDropDialog {
 public:
  static constexpr const char* kQuestion = "Are you sure to proceed with data drop?";

  // `server` empty: the whole database ("All", the first entry). Otherwise
  // the entry after the first that reads `server`. `terminal` must outlive
  // the object.
  ChosenDataDropDialog(Terminal& terminal, std::optional<std::string> server);

  std::optional<size_t> DoModal(const std::string& mysql_server,
                                const std::vector<std::string>& choices) override;

  // "Deleted from SERVER: stock_calls N, stock_cdr N, ... rows" on the
  // terminal's progress line.
  void ShowProgress(const std::string& table, uint64_t rows) override;
  void EndProgress() override { terminal_.EndProgress(); }

  // After DoModal: whether the chosen server was among the choices.
  bool found() const { return found_; }

 private:
  Terminal& terminal_;
  const std::optional<std::string> server_;
  bool found_ = false;
  // Each table's rows deleted so far, in the order of deletion.
  std::vector<std::pair<std::string, uint64_t>> deleted_;
};

}  // namespace callsink
