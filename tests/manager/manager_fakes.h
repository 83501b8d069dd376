#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "manager/config_dialog.h"
#include "manager/data_drop_dialog.h"
#include "manager/manager_window.h"
#include "manager/message_box.h"
#include "manager/process_launcher.h"
#include "manager/rebooter.h"
#include "manager/service_probe.h"
#include "manager/tray_icon.h"

// Stand-ins for what the window and the system provide, each recording what
// the model asked of it and answering as the test tells it.
namespace callsink::test {

struct TrayCall {
  TrayAction action;
  std::string tooltip;
  int icon_id;
  bool operator==(const TrayCall&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const TrayCall& call) {
    return out << "{action " << static_cast<int>(call.action) << ", \"" << call.tooltip
               << "\", icon " << call.icon_id << "}";
  }
};

class RecordingTray : public TrayIcon {
 public:
  void UpdateTrayIcon(TrayAction action, const std::string& tooltip, int icon_id) override {
    calls.push_back({action, tooltip, icon_id});
  }
  std::vector<TrayCall> calls;
};

// Answers questions from `answers` in order (kNo once they run out), after
// running `while_asking` when it is set.
class ScriptedMessageBox : public MessageBox {
 public:
  MessageAnswer Show(const std::string& text, MessageKind kind) override {
    shown.push_back(text);
    kinds.push_back(kind);
    if (kind == MessageKind::kNotice) return MessageAnswer::kOk;
    if (while_asking) while_asking();
    if (answers.empty()) return MessageAnswer::kNo;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::deque<MessageAnswer> answers;
  std::function<void()> while_asking;
  std::vector<std::string> shown;
  std::vector<MessageKind> kinds;
};

// Remembers the texts it was opened with; ends with OK and `typed` when set,
// with Cancel otherwise.
class ScriptedConfigDialog : public ConfigDialog {
 public:
  bool DoModal(ConfigFields* fields) override {
    opened_with.push_back(*fields);
    if (!typed) return false;
    *fields = *typed;
    return true;
  }
  std::optional<ConfigFields> typed;
  std::vector<ConfigFields> opened_with;
};

class RecordingWindow : public ManagerWindow {
 public:
  void EnableEditRemove(bool enable) override { edit_remove_enabled = enable; }
  void EnableChanges(bool enable) override { changes_enabled = enable; }
  void ShowStatus(const std::string& text) override { status = text; }
  void HideWindow() override { hidden = true; }
  std::optional<bool> edit_remove_enabled;
  std::optional<bool> changes_enabled;
  std::string status;
  bool hidden = false;
};

class FakeServiceProbe : public ServiceProbe {
 public:
  bool IsServiceRunning() override {
    ++asked;
    return running;
  }
  bool running = false;
  int asked = 0;
};

struct Launch {
  std::string folder, file, parameter;
  bool operator==(const Launch&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Launch& launch) {
    return out << launch.folder << launch.file << " " << launch.parameter;
  }
};

// Answers launches with `results` in order (started once they run out);
// the programs it started never say anything.
class RecordingLauncher : public ProcessLauncher {
 public:
  int Launch(const std::string& folder, const std::string& file,
             const std::string& parameter) override {
    launches.push_back({folder, file, parameter});
    if (results.empty()) return 33;
    const int result = results.front();
    results.pop_front();
    return result;
  }
  std::string ErrorOutput(std::chrono::milliseconds) override { return {}; }
  std::deque<int> results;
  std::vector<test::Launch> launches;
};

class RecordingRebooter : public Rebooter {
 public:
  bool RequestReboot() override {
    ++requests;
    return accept;
  }
  bool accept = false;
  int requests = 0;
};

// Ends with "Delete" on entry `choice`, or on the first entry after "All"
// that reads `server`; with Cancel when neither is set or found.
class ScriptedDataDropDialog : public DataDropDialog {
 public:
  std::optional<size_t> DoModal(const std::string& mysql_server,
                                const std::vector<std::string>& offered) override {
    shown_server = mysql_server;
    choices = offered;
    ++opened;
    if (server) {
      for (size_t i = 1; i < offered.size(); ++i) {
        if (offered[i] == *server) return i;
      }
      return std::nullopt;
    }
    return choice;
  }
  void ShowProgress(const std::string& table, uint64_t rows) override {
    progress.push_back(table + " " + std::to_string(rows));
  }
  void EndProgress() override { ++progress_ended; }
  std::optional<size_t> choice;
  std::optional<std::string> server;
  std::string shown_server;
  std::vector<std::string> choices;
  int opened = 0;
  // "table rows" of each ShowProgress; EndProgress calls.
  std::vector<std::string> progress;
  int progress_ended = 0;
};

}  // namespace callsink::test
