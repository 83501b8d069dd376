#include "manager/window/callsinkmanager_dlg.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

#include "manager/window/about_dlg.h"
#include "manager/window/config_dlg.h"
#include "manager/window/data_drop_dlg.h"
#include "manager/window/dialog_builder.h"
#include "manager/window/list_box_ch.h"
#include "manager/window/state_icons.h"

namespace callsink {

CcallsinkmanagerDlg::CcallsinkmanagerDlg(std::string registry_file, std::string app_folder,
                                         ManagerSystem system, Desktop desktop,
                                         const std::string& command_line, QWidget* parent)
    : QDialog(parent),
      messages_(std::move(desktop.show_message)),
      tray_available_(std::move(desktop.tray_available)),
      exit_action_(tray_menu_.addAction(QStringLiteral("E&xit"))) {
  setWindowTitle(QStringLiteral("callsinkmanager"));
  setWindowIcon(StateIcons::Icon(StateIcons::kProgramIcon));
  CreateControls();
  m_configDlg = new CConfigDlg(this);
  model_ = std::make_unique<CManagerModel>(
      std::move(registry_file), std::move(app_folder),
      ManagerViews{*m_list, tray_, messages_, *m_configDlg, *this}, std::move(system));

  connect(m_btnAdd, &QPushButton::clicked, this, &CcallsinkmanagerDlg::OnAdd);
  connect(m_btnEdit, &QPushButton::clicked, this, &CcallsinkmanagerDlg::OnEdit);
  connect(m_btnRemove, &QPushButton::clicked, this, &CcallsinkmanagerDlg::OnRemove);
  connect(m_btnApply, &QPushButton::clicked, this, &CcallsinkmanagerDlg::OnApply);
  connect(m_btnHide, &QPushButton::clicked, this, &CcallsinkmanagerDlg::OnHide);
  connect(m_configDlg, &CConfigDlg::resetDbClicked, this, &CcallsinkmanagerDlg::OnResetDb);
  connect(m_list, &CListBoxCH::selChange, this, &CcallsinkmanagerDlg::OnSelChange);
  connect(&timer_, &QTimer::timeout, this, &CcallsinkmanagerDlg::OnTimer);
  connect(&tray_, &SystemTrayIcon::activated, this, &CcallsinkmanagerDlg::OnTrayNotify);
  connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
          &CcallsinkmanagerDlg::OnAbout);
  exit_action_->setObjectName(QStringLiteral("action_32771"));

  model_->OnInitDialog(command_line);
  timer_.start(CManagerModel::kTimerPeriodMs);
}

CcallsinkmanagerDlg::~CcallsinkmanagerDlg() = default;

void CcallsinkmanagerDlg::CreateControls() {
  const DialogBuilder layout(this, 324, 166);
  // Created in tab order: the list, the status, then the buttons.
  layout.Group("Configurations", 7, 7, 310, 100);
  m_list = new CListBoxCH(this);
  layout.Place(m_list, "list", 1000, 14, 19, 296, 84);
  layout.Group("Selected connection status ", 7, 109, 310, 29);
  m_editStatus = layout.Edit(1012, 15, 118, 294, 14);
  m_editStatus->setReadOnly(true);
  m_btnAdd = layout.Button(1002, "Add", 8, 144, 50, 14);
  m_btnEdit = layout.Button(1003, "Edit", 58, 144, 50, 14);
  m_btnRemove = layout.Button(1004, "Remove", 108, 144, 50, 14);
  m_btnApply = layout.Button(1005, "Apply", 188, 144, 50, 14);
  m_btnHide = layout.Button(1007, "Hide", 267, 144, 50, 14);
  // No default button, not even the focused one: Qt would otherwise make
  // the first button the default when the window shows.
  for (QPushButton* button : {m_btnAdd, m_btnEdit, m_btnRemove, m_btnApply, m_btnHide}) {
    button->setAutoDefault(false);
  }
}

void CcallsinkmanagerDlg::OnAdd() { model_->OnAdd(); }

void CcallsinkmanagerDlg::OnEdit() { model_->OnEdit(); }

void CcallsinkmanagerDlg::OnRemove() { model_->OnRemove(); }

void CcallsinkmanagerDlg::OnApply() { model_->OnApply(); }

void CcallsinkmanagerDlg::OnHide() { model_->OnHide(); }

void CcallsinkmanagerDlg::OnResetDb() {
  CDataDropDlg drop_dialog(m_configDlg);
  model_->OnResetDb(m_configDlg->Fields(), drop_dialog);
}

void CcallsinkmanagerDlg::OnSelChange() { model_->OnSelChange(); }

void CcallsinkmanagerDlg::OnTimer() { model_->OnTimer(); }

void CcallsinkmanagerDlg::OnAbout() { CAboutDlg(this).exec(); }

void CcallsinkmanagerDlg::OnTrayNotify(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
      showNormal();
      raise();
      activateWindow();
      break;
    case QSystemTrayIcon::Context:
      ShowTrayMenu();
      break;
    default:
      break;
  }
}

void CcallsinkmanagerDlg::ShowTrayMenu() {
  if (tray_menu_.exec(QCursor::pos()) != exit_action_) return;
  model_->OnTrayExit();
  done(QDialog::Rejected);
}

void CcallsinkmanagerDlg::done(int result) {
  if (!ended_) {
    ended_ = true;
    timer_.stop();
    // The restart offer comes after the window has gone, and before the
    // program's event loop is told to end, so that its box can still run.
    hide();
    model_->OnDestroy();
  }
  QDialog::done(result);
}

void CcallsinkmanagerDlg::keyPressEvent(QKeyEvent* event) {
  // Enter is the dialog's accept key: it clicks the button that has the
  // focus, and otherwise ends the window as Escape does.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    QDialog::keyPressEvent(event);
    return;
  }
  if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
    button->click();
  } else {
    accept();
  }
}

void CcallsinkmanagerDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  connect(menu.addAction(QStringLiteral("&About callsinkmanager...")), &QAction::triggered, this,
          &CcallsinkmanagerDlg::OnAbout);
  menu.exec(event->globalPos());
}

void CcallsinkmanagerDlg::EnableEditRemove(bool enable) {
  m_btnEdit->setEnabled(enable);
  m_btnRemove->setEnabled(enable);
}

void CcallsinkmanagerDlg::EnableChanges(bool enable) {
  for (QPushButton* button : {m_btnAdd, m_btnEdit, m_btnRemove, m_btnApply}) {
    button->setEnabled(enable);
  }
}

void CcallsinkmanagerDlg::ShowStatus(const std::string& text) {
  m_editStatus->setText(QString::fromStdString(text));
}

void CcallsinkmanagerDlg::HideWindow() {
  // Without a tray host nothing could bring a hidden window back.
  if (!tray_available_()) {
    messages_.Show(kNoTray, MessageKind::kNotice);
    return;
  }
  hide();
}

}  // namespace callsink
