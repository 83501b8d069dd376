#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/database_tls_setting.h"
#include "manager/collector_service_probe.h"
#include "manager/manager_model.h"
#include "manager/memory_status_list.h"
#include "manager/rebooter.h"
#include "manager/spawn_launcher.h"
#include "tools/callsinkctl/command_line.h"
#include "tools/callsinkctl/headless_window.h"
#include "tools/callsinkctl/preset_config_dialog.h"
#include "tools/callsinkctl/terminal.h"
#include "tools/callsinkctl/terminal_message_box.h"

namespace callsink {

// The command interpreter of `callsinkctl`: the manager's operations for a
// terminal and for scripts, through the same model as the window.
//
//   list | status | apply | help | --help | -h | --version
//   add --server IP [--port P] [--mysql-server HOST] [--user U] [--password-stdin]
//   edit N [the same options]
//   remove N [--yes]
//   data servers --config N
//   data delete SERVER --config N [--yes]
//   data drop-all --config N [--yes]
//   database tls [MODE] [--ca FILE] [--cert FILE --key FILE]
//   report groups|agents|abandoned --config N [--from ...] [--until ...]
//     [--interval ...] [--time-zone ...] [--server ...] [--group ...] [--format ...]
//   database add-indexes --config N
//   retention [DAYS|off]
//
// Results go to `out`, errors and prompts to `err`. A password is only ever
// read from standard input and never printed. Used on the main thread.
class ControlTool {
 public:
  static constexpr int kSuccess = 0;
  static constexpr int kFailure = 1;  // the operation failed or was declined
  static constexpr int kUsage = 2;    // the command line is wrong
  static constexpr const char* kVersion = CALLSINK_VERSION;

  // `registry_file` is the configuration store, `app_folder` the folder of
  // the collector. The other objects must outlive the tool.
  ControlTool(std::string registry_file, std::string app_folder, Terminal& terminal,
              std::ostream& out, std::ostream& err);
  ~ControlTool();

  int Run(const std::vector<std::string>& args);

 private:
  // Never asked: callsinkctl has no restart mode.
  class NoReboot : public Rebooter {
   public:
    bool RequestReboot() override { return false; }
  };

  // Says on `err` that there is no store yet, when there is none.
  void SayIfThereIsNoStore();
  int List();
  int Status();
  int Add();
  int Edit();
  int Remove();
  int Apply();
  int Data();
  int Database();
  int Retention();
  int DataServers(const ConfigRow& config);
  int DataDrop(const ConfigRow& config, const std::optional<std::string>& server);
  int Report();
  // How the database sessions use TLS, as the store says (off without one).
  DatabaseTlsSetting ReadDatabaseTls() const;

  // Checks the words after the command and the options it accepts; prints
  // the usage error and returns false when they do not fit.
  bool Expect(size_t words, const std::set<std::string>& options);
  // The configuration texts given as options, checked; nothing (after the
  // error was printed) when one is not acceptable.
  std::optional<PresetConfigDialog::Overrides> ReadFields(bool adding);
  // The configuration named by `text` (1-based), after reading the store;
  // -1 (after the error was printed) when there is no such configuration.
  int ConfigIndex(const std::string& text);
  // Builds the model over the store, the list and `dialog`, and reads the
  // configurations.
  CManagerModel& Model(ConfigDialog& dialog);
  // Prints the notices shown since the command began to `stream`.
  void PrintNotices(std::ostream& stream);

  int Fail(const std::string& message);
  int Usage(const std::string& message);

  const std::string registry_file_;
  const std::string app_folder_;
  Terminal& terminal_;
  std::ostream& out_;
  std::ostream& err_;
  CommandLine line_;
  MemoryStatusList list_;
  HeadlessWindow window_;
  TerminalMessageBox messages_;
  PresetConfigDialog no_changes_{{}};
  CollectorServiceProbe service_;
  SpawnLauncher launcher_;
  NoReboot rebooter_;
  std::unique_ptr<CManagerModel> model_;
  // The configuration store exists (and this process may use it).
  bool store_found_ = false;
};

}  // namespace callsink
