#include "manager/window/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "manager/window/dialog_builder.h"
#include "manager/window/state_icons.h"

namespace callsink {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About callsinkmanager"));
  const DialogBuilder layout(this, 235, 66);
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon_128"));
  icon->setPixmap(StateIcons::Pixmap(StateIcons::kProgramIcon));
  icon->setGeometry(layout.units().X(11), layout.units().Y(17), StateIcons::kSize,
                    StateIcons::kSize);
  layout.Label(kVersionLine, 40, 10, 119, 8);
  QPushButton* ok = layout.Button(1, "OK", 178, 7, 50, 16);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace callsink
