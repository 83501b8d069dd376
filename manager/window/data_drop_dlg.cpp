#include "manager/window/data_drop_dlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressDialog>
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

CDataDropDlg::~CDataDropDlg() = default;

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

void CDataDropDlg::ShowProgress(const std::string& table, uint64_t rows) {
  if (!m_progress) {
    // Over the configuration dialog: this one has closed by now.
    m_progress = std::make_unique<QProgressDialog>(parentWidget());
    m_progress->setWindowTitle(windowTitle());
    m_progress->setCancelButton(nullptr);
    m_progress->setRange(0, 0);
    m_progress->setMinimumDuration(0);
    m_progress->setWindowModality(Qt::WindowModal);
    m_deleted.clear();
  }
  if (m_deleted.empty() || m_deleted.back().first != table) m_deleted.emplace_back(table, 0);
  m_deleted.back().second = rows;
  QString text = QStringLiteral("Rows deleted of %1:").arg(m_cbServer->currentText());
  for (const auto& [name, count] : m_deleted) {
    text += QStringLiteral("\n%1: %2").arg(QString::fromStdString(name)).arg(count);
  }
  m_progress->setLabelText(text);
  m_progress->show();
  // The deletion runs on this thread: the dialog paints between chunks.
  QCoreApplication::processEvents();
}

void CDataDropDlg::EndProgress() { m_progress.reset(); }

}  // namespace callsink
