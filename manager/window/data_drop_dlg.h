#pragma once

#include <QDialog>
#include <memory>
#include <utility>
#include <vector>

#include "manager/data_drop_dialog.h"

class QComboBox;
class QLineEdit;
class QProgressDialog;
class QPushButton;

namespace callsink {

// "Database delete": asks which collected data to delete on the MySQL
// server shown, the whole database ("All", always first and preselected) or
// one ACD server's rows. A form: it deletes nothing itself.
//
// Controls: edit_1005 (the MySQL server, read-only), combo_1010 (the
// choices, no typing), button_1 ("Delete", the default) and button_2
// ("Cancel"). While the chosen server's rows are deleted, a progress
// dialog shows the rows deleted so far in each table. GUI thread only.
class CDataDropDlg : public QDialog, public DataDropDialog {
  Q_OBJECT

 public:
  explicit CDataDropDlg(QWidget* parent = nullptr);
  ~CDataDropDlg() override;

  std::optional<size_t> DoModal(const std::string& mysql_server,
                                const std::vector<std::string>& choices) override;
  void ShowProgress(const std::string& table, uint64_t rows) override;
  void EndProgress() override;

  // The progress dialog while a deletion runs; null otherwise.
  QProgressDialog* progress() const { return m_progress.get(); }

 private:
  QLineEdit* m_editMysqlServer;
  QComboBox* m_cbServer;
  QPushButton* m_btnDelete;
  QPushButton* m_btnCancel;
  std::unique_ptr<QProgressDialog> m_progress;
  std::vector<std::pair<std::string, uint64_t>> m_deleted;
};

}  // namespace callsink
