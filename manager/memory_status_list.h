#pragma once

#include <string>
#include <vector>

#include "manager/status_list.h"

namespace callsink {

// A StatusList without a window: keeps the rows and the selection index in
// memory. Used by callsinkctl and by tests.
class MemoryStatusList : public StatusList {
 public:
  struct Row {
    std::string text;
    int icon_id = 0;
  };

  int GetSel() const override { return selection_; }
  void SetSel(int index) override { selection_ = index; }
  void RefreshSelection() override {}
  void ResetContent() override { rows_.clear(); }
  void AddItem(const std::string& text, int icon_id) override { rows_.push_back({text, icon_id}); }
  int GetCount() const override { return static_cast<int>(rows_.size()); }

  const std::vector<Row>& rows() const { return rows_; }

 private:
  std::vector<Row> rows_;
  int selection_ = -1;
};

}  // namespace callsink
