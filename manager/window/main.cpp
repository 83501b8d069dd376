#include <QApplication>
#include <QStringList>
#include <chrono>
#include <thread>

#include "manager/collector_service_probe.h"
#include "manager/spawn_launcher.h"
#include "manager/system_rebooter.h"
#include "manager/window/callsinkmanager_dlg.h"
#include "platform/process_info.h"
#include "platform/system_paths.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Hidden behind its tray icon the window still runs; the program ends
  // when the window does.
  QApplication::setQuitOnLastWindowClosed(false);
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();

  callsink::CollectorServiceProbe service;
  callsink::SpawnLauncher launcher;
  callsink::SystemRebooter rebooter;
  callsink::CcallsinkmanagerDlg window(
      callsink::SystemPaths::RegistryFile(), callsink::ProcessInfo::ExecutableFolder(),
      callsink::ManagerSystem{
          service, launcher, rebooter,
          [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }},
      callsink::CcallsinkmanagerDlg::Desktop{}, arguments.join(QLatin1Char(' ')).toStdString());
  QObject::connect(&window, &QDialog::finished, &app, &QApplication::quit);
  window.show();
  QApplication::exec();
  return 0;
}
