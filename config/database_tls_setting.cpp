#include "config/database_tls_setting.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace callsink {
namespace {

struct NamedMode {
  const char* name;
  DatabaseTlsSetting::Mode mode;
};

constexpr std::array<NamedMode, 4> kModes = {{
    {"off", DatabaseTlsSetting::Mode::kOff},
    {"required", DatabaseTlsSetting::Mode::kRequired},
    {"verify-ca", DatabaseTlsSetting::Mode::kVerifyCa},
    {"verify-identity", DatabaseTlsSetting::Mode::kVerifyIdentity},
}};

}  // namespace

DatabaseTlsSetting DatabaseTlsSetting::Read(Registry& registry) {
  DatabaseTlsSetting setting;
  const auto query = [&registry](const char* name, std::string* data) {
    if (!registry.QueryValue(kKey, name, data)) data->clear();
  };
  query(kModeValue, &setting.mode_text);
  query(kCaValue, &setting.ca);
  query(kCertValue, &setting.cert);
  query(kKeyValue, &setting.key);
  query(kFingerprintValue, &setting.fingerprint);
  setting.mode = ParseMode(setting.mode_text).value_or(Mode::kInvalid);
  return setting;
}

std::optional<DatabaseTlsSetting::Mode> DatabaseTlsSetting::ParseMode(std::string_view text) {
  if (text.empty()) return Mode::kOff;
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const NamedMode& named : kModes) {
    if (lower == named.name) return named.mode;
  }
  return std::nullopt;
}

const char* DatabaseTlsSetting::ModeName(Mode mode) {
  for (const NamedMode& named : kModes) {
    if (named.mode == mode) return named.name;
  }
  return "invalid";
}

const char* DatabaseTlsSetting::ModeNames() { return "off, required, verify-ca, verify-identity"; }

}  // namespace callsink
