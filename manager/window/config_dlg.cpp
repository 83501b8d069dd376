#include "manager/window/config_dlg.h"

#include <QLineEdit>
#include <QPushButton>

#include "config/config_layout.h"
#include "manager/window/dialog_builder.h"
#include "manager/window/utf8_length_validator.h"

namespace callsink {

CConfigDlg::CConfigDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Add/Edit ACD configurations"));
  const DialogBuilder layout(this, 160, 173);
  layout.Group("ACD", 7, 7, 146, 50);
  layout.Label("Halvern IP", 16, 20, 34, 8);
  m_editServer = layout.Edit(1003, 55, 17, 91, 14);
  layout.Label("Port", 15, 38, 14, 8);
  m_editPort = layout.Edit(1004, 55, 35, 91, 14);
  layout.Group("MYSQL", 7, 62, 146, 83);
  layout.Label("Server", 15, 76, 22, 8);
  m_editMysqlServer = layout.Edit(1005, 55, 73, 91, 14);
  layout.Label("User", 14, 93, 16, 8);
  m_editUser = layout.Edit(1007, 55, 90, 91, 14);
  layout.Label("Password", 13, 110, 32, 8);
  m_editPassword = layout.Edit(1008, 55, 107, 91, 14);
  m_editPassword->setEchoMode(QLineEdit::Password);
  m_btnResetDb = layout.Button(1009, "Reset DB", 16, 126, 130, 14);
  m_btnOk = layout.Button(1, "OK", 7, 151, 50, 14);
  m_btnCancel = layout.Button(2, "Cancel", 103, 151, 50, 14);

  // The store reads back values of kMaxValueLength bytes, and the texts go
  // there in UTF-8.
  const auto* fitting = new Utf8LengthValidator(ConfigLayout::kMaxValueLength, this);
  for (QLineEdit* edit :
       {m_editServer, m_editPort, m_editMysqlServer, m_editUser, m_editPassword}) {
    edit->setValidator(fitting);
  }
  m_btnOk->setDefault(true);
  setTabOrder(m_editServer, m_editPort);
  setTabOrder(m_editPort, m_editMysqlServer);
  setTabOrder(m_editMysqlServer, m_editUser);
  setTabOrder(m_editUser, m_editPassword);
  setTabOrder(m_editPassword, m_btnOk);
  setTabOrder(m_btnOk, m_btnCancel);
  setTabOrder(m_btnCancel, m_btnResetDb);

  connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_btnResetDb, &QPushButton::clicked, this, &CConfigDlg::resetDbClicked);
  SetFields(ConfigFields{});
}

ConfigFields CConfigDlg::Fields() const {
  return {m_editServer->text().toStdString(), m_editPort->text().toStdString(),
          m_editMysqlServer->text().toStdString(), m_editUser->text().toStdString(),
          m_editPassword->text().toStdString()};
}

void CConfigDlg::SetFields(const ConfigFields& fields) {
  m_editServer->setText(QString::fromStdString(fields.server));
  m_editPort->setText(QString::fromStdString(fields.port));
  m_editMysqlServer->setText(QString::fromStdString(fields.mysql_server));
  m_editUser->setText(QString::fromStdString(fields.user));
  m_editPassword->setText(QString::fromStdString(fields.password));
}

bool CConfigDlg::DoModal(ConfigFields* fields) {
  SetFields(*fields);
  m_editServer->setFocus();
  if (exec() != QDialog::Accepted) return false;
  *fields = Fields();
  return true;
}

}  // namespace callsink
