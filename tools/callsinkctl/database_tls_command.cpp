#include "tools/callsinkctl/database_tls_command.h"

#include <filesystem>
#include <optional>
#include <ostream>

#include "config/database_tls_setting.h"
#include "platform/registry.h"

namespace callsink {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

struct FileOption {
  const char* option;
  const char* value;
};

constexpr FileOption kFileOptions[] = {{"ca", DatabaseTlsSetting::kCaValue},
                                       {"cert", DatabaseTlsSetting::kCertValue},
                                       {"key", DatabaseTlsSetting::kKeyValue}};

std::string Shown(const std::string& value, const char* empty) {
  return value.empty() ? empty : value;
}

void Show(const DatabaseTlsSetting& setting, std::ostream& out) {
  out << "TLS\t"
      << (setting.mode == DatabaseTlsSetting::Mode::kInvalid
              ? "\"" + setting.mode_text + "\" (invalid: no session is opened)"
              : DatabaseTlsSetting::ModeName(setting.mode))
      << "\n"
      << "CA\t" << Shown(setting.ca, "(the system's store)") << "\n"
      << "Cert\t" << Shown(setting.cert, "(none)") << "\n"
      << "Key\t" << Shown(setting.key, "(none)") << "\n"
      << "Fingerprint\t" << Shown(setting.fingerprint, "(none)") << "\n";
}

int Usage(std::ostream& err, const std::string& message) {
  err << "callsinkctl: " << message << "\n(callsinkctl help shows the commands)\n";
  return kUsageError;
}

}  // namespace

int RunDatabaseTlsCommand(const CommandLine& line, const std::string& registry_file,
                          std::ostream& out, std::ostream& err) {
  const std::vector<std::string>& words = line.words();
  const std::string stray = line.FirstOptionOutside({"ca", "cert", "key"});
  if (!stray.empty()) return Usage(err, "option --" + stray + " does not belong to this command");
  if (words.size() > 3) return Usage(err, "unexpected argument " + words.back());
  const bool setting = words.size() == 3;
  if (!setting && (line.Value("ca") || line.Value("cert") || line.Value("key"))) {
    return Usage(err, "the files are set together with the mode");
  }
  std::optional<DatabaseTlsSetting::Mode> mode;
  if (setting) {
    mode = DatabaseTlsSetting::ParseMode(words[2]);
    if (!mode || words[2].empty()) {
      return Usage(err, "the mode is one of " + std::string(DatabaseTlsSetting::ModeNames()) +
                            ", not \"" + words[2] + "\"");
    }
  }
  if (line.Value("cert").has_value() != line.Value("key").has_value()) {
    return Usage(err, "--cert and --key go together");
  }
  for (const FileOption& file : kFileOptions) {
    const std::optional<std::string> path = line.Value(file.option);
    std::error_code error;
    if (path && !path->empty() && !std::filesystem::is_regular_file(*path, error)) {
      return Usage(err, "--" + std::string(file.option) + " " + *path + " is no file");
    }
  }

  Registry store(registry_file);
  if (!store.Open(setting ? Registry::OpenMode::kCreate : Registry::OpenMode::kExisting)) {
    if (!setting) {
      Show(DatabaseTlsSetting{}, out);
      return kSuccess;
    }
    err << "callsinkctl: " << store.error() << "\n";
    return kFailure;
  }
  if (setting) {
    const bool written = store.Transaction([&] {
      if (!store.CreateKey(DatabaseTlsSetting::kKey) ||
          !store.SetValue(DatabaseTlsSetting::kKey, DatabaseTlsSetting::kModeValue,
                          DatabaseTlsSetting::ModeName(*mode))) {
        return false;
      }
      for (const FileOption& file : kFileOptions) {
        const std::optional<std::string> path = line.Value(file.option);
        if (!path) continue;
        const std::string absolute =
            path->empty() ? "" : std::filesystem::absolute(*path).lexically_normal().string();
        if (!store.SetValue(DatabaseTlsSetting::kKey, file.value, absolute)) return false;
      }
      return true;
    });
    if (!written) {
      err << "callsinkctl: cannot write the database TLS setting: " << store.error() << "\n";
      return kFailure;
    }
  }
  Show(DatabaseTlsSetting::Read(store), out);
  if (setting) out << "callsinkctl apply makes the collector use it\n";
  return kSuccess;
}

}  // namespace callsink
