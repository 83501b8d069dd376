#pragma once

#include "manager/window/dialog_units.h"

class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace callsink {

// Places a dialog's controls where its layout in dialog units puts them,
// scaled to the dialog's font, and fixes the dialog's size. Controls with an
// identifier are named after it ("edit_1003", "button_1002", "combo_1010"),
// so tests and tools find them. The controls belong to the dialog; the
// builder is used during construction only.
class DialogBuilder {
 public:
  // `dialog` gets the client size `width` x `height` in dialog units and a
  // fixed frame with a title, a system menu and a close box.
  DialogBuilder(QDialog* dialog, int width, int height);

  // Group boxes and labels take no focus and have no identifier.
  QGroupBox* Group(const char* title, int x, int y, int width, int height) const;
  QLabel* Label(const char* text, int x, int y, int width, int height) const;
  QLineEdit* Edit(int id, int x, int y, int width, int height) const;
  QPushButton* Button(int id, const char* caption, int x, int y, int width, int height) const;
  // A drop-down list without typing; `height` is that of the opened list.
  QComboBox* DropDownList(int id, int x, int y, int width, int height) const;
  // Places a control created elsewhere, named after `id`.
  void Place(QWidget* control, const char* kind, int id, int x, int y, int width, int height) const;

  const DialogUnits& units() const { return units_; }

 private:
  QDialog* const dialog_;
  const DialogUnits units_;
};

}  // namespace callsink
