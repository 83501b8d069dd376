#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace callsink {

// The modal "Database delete" dialog: shows the MySQL server and offers the
// choices, the first one preselected. Used on the model's thread.
class DataDropDialog {
 public:
  virtual ~DataDropDialog() = default;

  // `choices` holds "All" first, then the server names found. Returns the
  // index of the chosen entry when the dialog ended with "Delete", nothing
  // on Cancel. Index 0 always means the whole database, whatever the texts.
  virtual std::optional<size_t> DoModal(const std::string& mysql_server,
                                        const std::vector<std::string>& choices) = 0;

  // While one server's rows are deleted after DoModal, a chunk at a time:
  // `rows` rows of `table` (by the schema's name) are gone so far. Called
  // after each chunk, then EndProgress once, before the result is shown.
  virtual void ShowProgress(const std::string& /*table*/, uint64_t /*rows*/) {}
  virtual void EndProgress() {}
};

}  // namespace callsink
