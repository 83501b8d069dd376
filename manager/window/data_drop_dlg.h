#pragma once

#include <QDialog>

#include "manager/data_drop_dialog.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace callsink {

// "Database delete": asks which collected data to delete on the MySQL
// server shown, the whole database ("All", always first and preselected) or
// one ACD server's rows. A form: it deletes nothing itself.
//
// Controls: edit_1005 (the MySQL server, read-only), combo_1010 (the
// choices, no typing), button_1 ("Delete", the default) and button_2
// ("Cancel"). GUI thread only.
class CDataDropDlg : public QDialog, public DataDropDialog {
  Q_OBJECT

 public:
  explicit CDataDropDlg(QWidget* parent = nullptr);

  std::optional<size_t> DoModal(const std::string& mysql_server,
                                const std::vector<std::string>& choices) override;

 private:
  QLineEdit* m_editMysqlServer;
  QComboBox* m_cbServer;
  QPushButton* m_btnDelete;
  QPushButton* m_btnCancel;
};

}  // namespace callsink
