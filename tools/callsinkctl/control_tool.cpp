#include "tools/callsinkctl/control_tool.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>

#include "config/config_reader.h"
#include "config/database_tls_setting.h"
#include "manager/config_store.h"
#include "manager/connection_state.h"
#include "platform/registry.h"
#include "service/collector_service_names.h"
#include "store/schema_names.h"
#include "tools/callsinkctl/chosen_data_drop_dialog.h"
#include "tools/callsinkctl/collector_health.h"
#include "tools/callsinkctl/database_tls_command.h"
#include "tools/callsinkctl/history_index_command.h"
#include "tools/callsinkctl/report_command.h"
#include "tools/callsinkctl/server_list_dialog.h"

namespace callsink {
namespace {

constexpr const char* kUsageText =
    "usage: callsinkctl list\n"
    "       callsinkctl status\n"
    "       callsinkctl add --server IP [--port 4660] [--mysql-server localhost] [--user root]\n"
    "                       [--password-stdin]\n"
    "       callsinkctl edit N [--server IP] [--port P] [--mysql-server HOST] [--user U]\n"
    "                       [--password-stdin]\n"
    "       callsinkctl remove N [--yes]\n"
    "       callsinkctl apply\n"
    "       callsinkctl data servers --config N\n"
    "       callsinkctl data delete SERVER --config N [--yes]\n"
    "       callsinkctl data drop-all --config N [--yes]\n"
    "       callsinkctl database tls [off|required|verify-ca|verify-identity] [--ca FILE]\n"
    "                       [--cert FILE --key FILE]\n"
    "       callsinkctl report groups|agents|abandoned --config N [--from \"YYYY-MM-DD HH:MM\"]\n"
    "                       [--until ...] [--interval 15m|30m|60m|day] [--time-zone ZONE]\n"
    "                       [--server NAME] [--group NAME] [--format table|csv]\n"
    "       callsinkctl database add-indexes --config N\n"
    "       callsinkctl retention [DAYS|off]\n"
    "       callsinkctl --help | --version\n"
    "N is a configuration's number as `list` shows it. --password-stdin reads the MySQL\n"
    "password from the first line of standard input. The configuration store is root's:\n"
    "run callsinkctl as root (sudo).\n";

const std::set<std::string> kFieldOptions = {"server", "port", "mysql-server", "user",
                                             "password-stdin"};

std::string RetentionText(uint32_t days) {
  return days == 0 ? "off, the history is kept for ever" : std::to_string(days) + " days";
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

ControlTool::ControlTool(std::string registry_file, std::string app_folder, Terminal& terminal,
                         std::ostream& out, std::ostream& err)
    : registry_file_(std::move(registry_file)),
      app_folder_(std::move(app_folder)),
      terminal_(terminal),
      out_(out),
      err_(err),
      messages_(terminal) {}

ControlTool::~ControlTool() = default;

int ControlTool::Fail(const std::string& message) {
  err_ << "callsinkctl: " << message << "\n";
  return kFailure;
}

int ControlTool::Usage(const std::string& message) {
  err_ << "callsinkctl: " << message << "\n(callsinkctl help shows the commands)\n";
  return kUsage;
}

void ControlTool::PrintNotices(std::ostream& stream) {
  for (const std::string& notice : messages_.notices()) stream << notice << "\n";
}

CManagerModel& ControlTool::Model(ConfigDialog& dialog) {
  model_ = std::make_unique<CManagerModel>(
      registry_file_, app_folder_, ManagerViews{list_, window_, messages_, dialog, window_},
      ManagerSystem{service_, launcher_, rebooter_,
                    [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }});
  model_->ReloadConfigurations();
  return *model_;
}

bool ControlTool::Expect(size_t words, const std::set<std::string>& options) {
  if (line_.words().size() != words) {
    Usage(words == 1 ? "unexpected argument " + line_.words().back() : "wrong number of arguments");
    return false;
  }
  const std::string stray = line_.FirstOptionOutside(options);
  if (!stray.empty()) {
    Usage("option --" + stray + " does not belong to this command");
    return false;
  }
  return true;
}

int ControlTool::Run(const std::vector<std::string>& args) {
  const auto options_end = std::find(args.begin(), args.end(), "--");
  const auto asked = [&](const char* flag) {
    return std::find(args.begin(), options_end, flag) != options_end;
  };
  if (asked("--version")) {
    out_ << "callsinkctl " << kVersion << "\n";
    return kSuccess;
  }
  if (asked("--help") || asked("-h")) {
    out_ << kUsageText;
    return kSuccess;
  }
  if (!line_.Parse(args)) return Usage(line_.error());
  if (line_.words().empty()) {
    err_ << kUsageText;
    return kUsage;
  }
  if (line_.Flag("yes")) terminal_.AssumeYes();
  const std::string& command = line_.words()[0];
  if (command == "help") {
    out_ << kUsageText;
    return kSuccess;
  }
  // The window shows an unreadable store as an empty list; a command must
  // not, or "list" would answer "nothing configured" where it cannot know.
  Registry store(registry_file_);
  store_found_ = store.Open(Registry::OpenMode::kExisting);
  if (!store_found_ && store.access_denied()) {
    return Fail(store.error() +
                "\ncallsinkctl needs root rights for the configuration store: run it as root, "
                "for instance with sudo");
  }
  std::error_code unknown;
  if (!store_found_ && std::filesystem::exists(registry_file_, unknown)) {
    return Fail(store.error());
  }
  if (command == "list") return Expect(1, {}) ? List() : kUsage;
  if (command == "status") return Expect(1, {}) ? Status() : kUsage;
  if (command == "add") return Expect(1, kFieldOptions) ? Add() : kUsage;
  if (command == "edit") return Expect(2, kFieldOptions) ? Edit() : kUsage;
  if (command == "remove") return Expect(2, {"yes"}) ? Remove() : kUsage;
  if (command == "apply") return Expect(1, {}) ? Apply() : kUsage;
  if (command == "data") return Data();
  if (command == "database") return Database();
  if (command == "report") return Report();
  if (command == "retention") return Retention();
  return Usage("unknown command " + command);
}

int ControlTool::ConfigIndex(const std::string& text) {
  const int count = Model(no_changes_).config_count();
  const int number = AllDigits(text) && text.size() <= 3 ? std::stoi(text) : -1;
  if (number < 1 || number > count) {
    Usage("there is no configuration " + text + " (" +
          (count == 0 ? std::string("there are none") : "1 to " + std::to_string(count)) + ")");
    return -1;
  }
  return number - 1;
}

std::optional<PresetConfigDialog::Overrides> ControlTool::ReadFields(bool adding) {
  PresetConfigDialog::Overrides fields{line_.Value("server"), line_.Value("port"),
                                       line_.Value("mysql-server"), line_.Value("user"),
                                       std::nullopt};
  if (adding && !fields.server) {
    Usage("add needs --server");
    return std::nullopt;
  }
  if (fields.server && fields.server->empty()) {
    Usage("the server address must not be empty");
    return std::nullopt;
  }
  if (fields.port) {
    const bool number = AllDigits(*fields.port) && fields.port->size() <= 5;
    const int port = number ? std::stoi(*fields.port) : 0;
    if (port < 1 || port > 65535) {
      Usage("the port must be a number from 1 to 65535, not \"" + *fields.port + "\"");
      return std::nullopt;
    }
  }
  if (line_.Flag("password-stdin")) {
    std::string password;
    if (!terminal_.ReadPassword(&password)) {
      Usage("--password-stdin found no line on standard input");
      return std::nullopt;
    }
    fields.password = password;
  }
  const std::pair<const char*, const std::optional<std::string>*> named[] = {
      {"server address", &fields.server},
      {"MySQL server", &fields.mysql_server},
      {"user", &fields.user},
      {"password", &fields.password}};
  for (const auto& [name, value] : named) {
    if (!*value) continue;
    if ((*value)->size() > ConfigLayout::kMaxValueLength) {
      Usage(std::string("the ") + name + " is longer than " +
            std::to_string(ConfigLayout::kMaxValueLength) + " characters");
      return std::nullopt;
    }
    // A line break or tab would split the lines and columns of `list`.
    if (std::any_of((*value)->begin(), (*value)->end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
      Usage(std::string("the ") + name + " must not hold control characters");
      return std::nullopt;
    }
  }
  return fields;
}

void ControlTool::SayIfThereIsNoStore() {
  if (store_found_) return;
  err_ << "callsinkctl: there is no configuration store " << registry_file_
       << " yet: nothing is configured (add creates it)\n";
}

int ControlTool::List() {
  SayIfThereIsNoStore();
  const CManagerModel& model = Model(no_changes_);
  const bool running = service_.IsServiceRunning();
  for (int i = 0; i < model.config_count(); ++i) {
    const ConfigRow& row = model.configs()[static_cast<size_t>(i)];
    out_ << i + 1 << "\t" << CManagerModel::RowText(row) << "\t"
         << (running ? ConnectionState::FromStatus(row[kStatus]).text
                     : ConnectionState::kServiceStopped)
         << "\n";
  }
  return kSuccess;
}

int ControlTool::Status() {
  const CManagerModel& model = Model(no_changes_);
  const bool running = service_.IsServiceRunning();
  out_ << CollectorServiceNames::kName << ": " << (running ? "running" : "not running") << "\n";
  SayIfThereIsNoStore();
  for (int i = 0; i < model.config_count(); ++i) {
    const ConfigRow& row = model.configs()[static_cast<size_t>(i)];
    out_ << i + 1 << "\t" << row[kAcdServer] << "\t"
         << (running ? ConnectionState::FromStatus(row[kStatus]).text
                     : ConnectionState::kServiceStopped)
         << "\n";
  }
  Registry store(registry_file_);
  std::optional<MetricsEndpointSetting> setting;
  if (store.Open(Registry::OpenMode::kExisting)) setting = MetricsEndpointSetting::Read(store);
  const std::vector<ConfigRow> configs(model.configs().begin(),
                                       model.configs().begin() + model.config_count());
  CollectorHealth::Write(out_, configs, running, setting);
  return kSuccess;
}

int ControlTool::Add() {
  const std::optional<PresetConfigDialog::Overrides> fields = ReadFields(true);
  if (!fields) return kUsage;
  PresetConfigDialog dialog(*fields);
  CManagerModel& model = Model(dialog);
  if (!model.OnAdd()) {
    if (!messages_.notices().empty()) {
      PrintNotices(err_);
      return kFailure;
    }
    return Fail("cannot write the configurations: " + model.registry_error());
  }
  out_ << "added configuration " << model.config_count() << ": "
       << CManagerModel::RowText(model.configs()[static_cast<size_t>(model.config_count() - 1)])
       << "\n";
  return kSuccess;
}

int ControlTool::Edit() {
  const std::optional<PresetConfigDialog::Overrides> fields = ReadFields(false);
  if (!fields) return kUsage;
  const int index = ConfigIndex(line_.words()[1]);
  if (index < 0) return kUsage;
  PresetConfigDialog dialog(*fields);
  CManagerModel& model = Model(dialog);
  list_.SetSel(index);
  if (!model.OnEdit()) return Fail("cannot write the configurations: " + model.registry_error());
  out_ << "changed configuration " << index + 1 << ": "
       << CManagerModel::RowText(model.configs()[static_cast<size_t>(index)]) << "\n";
  return kSuccess;
}

int ControlTool::Remove() {
  const int index = ConfigIndex(line_.words()[1]);
  if (index < 0) return kUsage;
  if (!terminal_.assumes_yes() && !terminal_.interactive()) {
    return Usage("remove asks \"Are you sure?\": run it on a terminal or pass --yes");
  }
  CManagerModel& model = Model(no_changes_);
  const std::string removed = CManagerModel::RowText(model.configs()[static_cast<size_t>(index)]);
  list_.SetSel(index);
  if (!model.OnRemove()) {
    const std::string reason = model.registry_error();
    return Fail(reason.empty() ? "nothing removed" : "cannot write the configurations: " + reason);
  }
  out_ << "removed configuration " << index + 1 << ": " << removed << "\n";
  return kSuccess;
}

int ControlTool::Apply() {
  // A restart counts once the service runs again.
  const bool restarted = Model(no_changes_).OnApply(CManagerModel::RestartCheck::kServiceRunning);
  PrintNotices(restarted ? out_ : err_);
  return restarted ? kSuccess : kFailure;
}

int ControlTool::Data() {
  const std::vector<std::string>& words = line_.words();
  const std::string action = words.size() > 1 ? words[1] : "";
  const size_t expected = action == "delete" ? 3 : 2;
  const std::set<std::string> options = action == "servers"
                                            ? std::set<std::string>{"config"}
                                            : std::set<std::string>{"config", "yes"};
  if (action != "servers" && action != "delete" && action != "drop-all") {
    return Usage(action.empty() ? "data needs servers, delete or drop-all"
                                : "unknown data command " + action);
  }
  if (!Expect(expected, options)) return kUsage;
  const std::optional<std::string> config = line_.Value("config");
  if (!config) return Usage("data " + action + " needs --config N");
  const int index = ConfigIndex(*config);
  if (index < 0) return kUsage;
  const ConfigRow& row = model_->configs()[static_cast<size_t>(index)];
  if (action == "servers") return DataServers(row);
  if (!terminal_.assumes_yes() && !terminal_.interactive()) {
    return Usage("data " + action + " asks for confirmation: run it on a terminal or pass --yes");
  }
  return DataDrop(row, action == "delete" ? std::optional<std::string>(words[2]) : std::nullopt);
}

int ControlTool::Database() {
  const std::vector<std::string>& words = line_.words();
  if (words.size() >= 2 && words[1] == "tls") {
    return RunDatabaseTlsCommand(line_, registry_file_, out_, err_);
  }
  if (words.size() < 2 || words[1] != "add-indexes") {
    return Usage(words.size() < 2 ? "database needs add-indexes or tls"
                                  : "unknown database command " + words[1]);
  }
  if (!Expect(2, {"config"})) return kUsage;
  const std::optional<std::string> config = line_.Value("config");
  if (!config) return Usage("database add-indexes needs --config N");
  const int index = ConfigIndex(*config);
  if (index < 0) return kUsage;
  HistoryIndexCommand command(out_, err_, terminal_.interactive());
  return command.Run(model_->configs()[static_cast<size_t>(index)], ReadDatabaseTls()) ? kSuccess
                                                                                       : kFailure;
}

int ControlTool::Retention() {
  const std::vector<std::string>& words = line_.words();
  if (words.size() > 2) return Usage("unexpected argument " + words.back());
  if (!Expect(words.size(), {})) return kUsage;
  Registry store(registry_file_);
  if (words.size() == 1) {
    const bool readable = store_found_ && store.Open(Registry::OpenMode::kExisting);
    out_ << "Retention: " << RetentionText(readable ? ReadRetentionDays(store) : 0) << "\n";
    return kSuccess;
  }
  const std::string& value = words[1];
  const bool off = value == "off";
  if (!off && (!AllDigits(value) || value.size() > 6 || std::stoi(value) == 0)) {
    return Usage("retention takes a number of days from 1 to 999999 or off, not \"" + value + "\"");
  }
  const uint32_t days = off ? 0 : static_cast<uint32_t>(std::stoi(value));
  if (!store.Open(Registry::OpenMode::kCreate) || !store.CreateKey(ConfigLayout::kServiceKey) ||
      !store.SetValue(ConfigLayout::kServiceKey, ConfigLayout::kRetentionDays,
                      std::to_string(days))) {
    return Fail("cannot write the retention period: " + store.error());
  }
  out_ << "Retention: " << RetentionText(days)
       << "; callsinkctl apply makes the collector take it up\n";
  return kSuccess;
}

int ControlTool::DataServers(const ConfigRow& config) {
  ServerListDialog dialog;
  if (model_->OnResetDb(CManagerModel::FieldsOf(config), dialog) ==
      DataDropFlow::Outcome::kConnectFailed) {
    PrintNotices(err_);
    return kFailure;
  }
  // None readable: nothing to list.
  for (const std::string& name : dialog.servers()) out_ << name << "\n";
  return kSuccess;
}

int ControlTool::DataDrop(const ConfigRow& config, const std::optional<std::string>& server) {
  ChosenDataDropDialog dialog(terminal_, server);
  switch (model_->OnResetDb(CManagerModel::FieldsOf(config), dialog)) {
    case DataDropFlow::Outcome::kDatabaseDropped:
    case DataDropFlow::Outcome::kServerDeleted:
      PrintNotices(out_);
      return kSuccess;
    case DataDropFlow::Outcome::kCancelled:
      return Fail(dialog.found()
                      ? "nothing deleted"
                      : "server " + server.value_or("") + " has no data in " + schema::kDatabase);
    case DataDropFlow::Outcome::kConnectFailed:
    case DataDropFlow::Outcome::kFailed:
      break;
  }
  PrintNotices(err_);
  return kFailure;
}

int ControlTool::Report() {
  if (line_.words().size() < 2) return Usage("report needs groups, agents or abandoned");
  if (!Expect(2, ReportCommand::kOptions)) return kUsage;
  const std::optional<std::string> config = line_.Value("config");
  if (!config) return Usage("report needs --config N");
  const int index = ConfigIndex(*config);
  if (index < 0) return kUsage;
  ReportCommand report(out_, err_, isatty(STDOUT_FILENO) == 1);
  return report.Run(line_, model_->configs()[static_cast<size_t>(index)], ReadDatabaseTls());
}

DatabaseTlsSetting ControlTool::ReadDatabaseTls() const {
  // The database is reached as the collector reaches it, TLS included.
  Registry store(registry_file_);
  if (!store.Open(Registry::OpenMode::kExisting)) return {};
  return DatabaseTlsSetting::Read(store);
}

}  // namespace callsink
