#include "manager/window/data_drop_dlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "manager/window/dialog_builder.h"

namespace callsink {

CDataDropDlg::CDataDropDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Database delete"));
  const DialogBuilder layout(this, 169, 84);
  layout.Group("Are you sure to proceed with data drop?", 7, 8, 155, 50);
  layout.Label("MySQL server", 15, 24, 46, 8);
  m_editMysqlServer = layout.Edit(1005, 69, 22, 80, 14);
  m_editMysqlServer->setReadOnly(true);
  layout.Label("Halvern IP", 15, 43, 34, 8);
  m_cbServer = layout.DropDownList(1010, 69, 40, 80, 71);
  m_btnDelete = layout.Button(1, "Delete", 32, 63, 50, 14);
  m_btnCancel = layout.Button(2, "Cancel", 88, 63, 50, 14);
  m_btnDelete->setDefault(true);

  connect(m_btnDelete, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<size_t> CDataDropDlg::DoModal(const std::string& mysql_server,
                                            const std::vector<std::string>& choices) {
  m_editMysqlServer->setText(QString::fromStdString(mysql_server));
  m_cbServer->clear();
  for (const std::string& choice : choices) m_cbServer->addItem(QString::fromStdString(choice));
  m_cbServer->setCurrentIndex(0);
  m_cbServer->setFocus();
  if (exec() != QDialog::Accepted || m_cbServer->currentIndex() < 0) return std::nullopt;
  return static_cast<size_t>(m_cbServer->currentIndex());
}

}  // namespace callsink
