#pragma once

#include <QDialog>

#include "manager/config_dialog.h"

class QLineEdit;
class QPushButton;

namespace callsink {

// "Add/Edit ACD configurations": the ACD server's address and port and the
// MySQL server, user and password of one configuration. A form: DoModal
// shows the texts it is given and hands the edited ones back on OK; it
// takes whatever was typed, up to ConfigLayout::kMaxValueLength bytes (in
// UTF-8, as the store keeps them) per field. "Reset DB" signals resetDbClicked, for whoever runs
// the dialog to start the data deletion with the texts typed so far (Fields()).
//
// Controls are named after their identifiers: edit_1003 (server),
// edit_1004 (port), edit_1005 (MySQL server), edit_1007 (user), edit_1008
// (password, masked), button_1009 ("Reset DB"), button_1 ("OK", the
// default) and button_2 ("Cancel"). GUI thread only.
class CConfigDlg : public QDialog, public ConfigDialog {
  Q_OBJECT

 public:
  // The edits start with the defaults of a new configuration.
  explicit CConfigDlg(QWidget* parent = nullptr);

  bool DoModal(ConfigFields* fields) override;

  // The texts the edits hold now.
  ConfigFields Fields() const;
  void SetFields(const ConfigFields& fields);

 signals:
  // "Reset DB" was clicked.
  void resetDbClicked();

 private:
  QLineEdit* m_editServer;
  QLineEdit* m_editPort;
  QLineEdit* m_editMysqlServer;
  QLineEdit* m_editUser;
  QLineEdit* m_editPassword;
  QPushButton* m_btnResetDb;
  QPushButton* m_btnOk;
  QPushButton* m_btnCancel;
};

}  // namespace callsink
