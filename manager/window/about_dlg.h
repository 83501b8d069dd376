#pragma once

#include <QDialog>

namespace callsink {

// "About callsinkmanager": the program's icon, its name and version, and
// "OK". No behaviour of its own.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kVersionLine = "ACD service manager Version 1.11";

  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace callsink
