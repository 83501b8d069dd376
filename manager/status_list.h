#pragma once

#include <string>

namespace callsink {

// The configurations list as the manager's model drives it. The list keeps
// its own selected row index, which a click or an arrow key sets; -1 means
// none. Implemented by the window's list widget and, without a window, by
// MemoryStatusList. Used on the model's thread only.
class StatusList {
 public:
  virtual ~StatusList() = default;

  // The list's own selection index (-1 = none); may name no existing row.
  virtual int GetSel() const = 0;
  // Stores `index` as the selection and highlights that row; an index with
  // no row is stored all the same and highlights nothing.
  virtual void SetSel(int index) = 0;
  // Repaints the previously highlighted row and the selected one.
  virtual void RefreshSelection() = 0;
  // Removes every row.
  virtual void ResetContent() = 0;
  // Appends a row with `text` and the icon resource `icon_id`
  // (ConnectionState::kIcon...).
  virtual void AddItem(const std::string& text, int icon_id) = 0;
  virtual int GetCount() const = 0;
};

}  // namespace callsink
