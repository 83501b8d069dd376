#include "web/web_config.h"

#include <openssl/ssl.h>
#include <yaml-cpp/yaml.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

namespace callsink {
namespace {

// Thrown inside Load only, caught there and turned into its error line.
struct Invalid {
  std::string what;
};

struct Named {
  std::string_view name;
  int value;
};

constexpr std::array<Named, 4> kVersions = {{
    {"TLS10", TLS1_VERSION},
    {"TLS11", TLS1_1_VERSION},
    {"TLS12", TLS1_2_VERSION},
    {"TLS13", TLS1_3_VERSION},
}};

constexpr std::array<Named, 5> kClientAuths = {{
    {"NoClientCert", static_cast<int>(WebConfig::ClientAuth::kNone)},
    {"RequestClientCert", static_cast<int>(WebConfig::ClientAuth::kRequest)},
    {"RequireAnyClientCert", static_cast<int>(WebConfig::ClientAuth::kRequireAny)},
    {"VerifyClientCertIfGiven", static_cast<int>(WebConfig::ClientAuth::kVerifyIfGiven)},
    {"RequireAndVerifyClientCert", static_cast<int>(WebConfig::ClientAuth::kRequireAndVerify)},
}};

template <size_t N>
int Choose(const std::array<Named, N>& choices, const std::string& text, const char* key) {
  std::string names;
  for (const Named& choice : choices) {
    if (choice.name == text) return choice.value;
    names += (names.empty() ? "" : ", ") + std::string(choice.name);
  }
  throw Invalid{std::string(key) + " \"" + text + "\" is none of " + names};
}

// A mapping's keys must all be known.
void ExpectKeys(const YAML::Node& node, const char* where, const std::set<std::string>& known,
                const std::set<std::string>& refused = {}) {
  if (!node.IsMap()) throw Invalid{std::string(where) + " is not a mapping"};
  for (const auto& entry : node) {
    const std::string key = entry.first.as<std::string>();
    if (refused.contains(key)) {
      throw Invalid{std::string(where) + "." + key + " is not supported by this server"};
    }
    if (!known.contains(key)) throw Invalid{std::string("unknown key ") + where + "." + key};
  }
}

std::string Text(const YAML::Node& node, const char* key) {
  const YAML::Node value = node[key];
  if (!value || value.IsNull()) return "";
  if (!value.IsScalar()) throw Invalid{std::string(key) + " is not a text"};
  return value.as<std::string>();
}

std::string FileIn(const std::filesystem::path& folder, const std::string& name) {
  if (name.empty()) return name;
  const std::filesystem::path path(name);
  return path.is_absolute() ? name : (folder / path).lexically_normal().string();
}

bool IsBcrypt(const std::string& hash) {
  return hash.starts_with("$2a$") || hash.starts_with("$2b$") || hash.starts_with("$2y$");
}

// Empty when neither file is named: exporters then serve plain HTTP.
std::optional<WebConfig::Tls> ReadTls(const YAML::Node& node, const std::filesystem::path& folder) {
  ExpectKeys(
      node, "tls_server_config",
      {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version", "max_version",
       "prefer_server_cipher_suites"},
      {"cert", "key", "client_ca", "cipher_suites", "curve_preferences", "client_allowed_sans"});
  WebConfig::Tls tls;
  tls.cert_file = FileIn(folder, Text(node, "cert_file"));
  tls.key_file = FileIn(folder, Text(node, "key_file"));
  if (tls.cert_file.empty() && tls.key_file.empty()) return std::nullopt;
  if (tls.cert_file.empty()) throw Invalid{"missing cert_file"};
  if (tls.key_file.empty()) throw Invalid{"missing key_file"};
  const std::string auth = Text(node, "client_auth_type");
  tls.client_auth = static_cast<WebConfig::ClientAuth>(
      auth.empty() ? 0 : Choose(kClientAuths, auth, "client_auth_type"));
  tls.client_ca_file = FileIn(folder, Text(node, "client_ca_file"));
  const bool verifies = tls.client_auth == WebConfig::ClientAuth::kVerifyIfGiven ||
                        tls.client_auth == WebConfig::ClientAuth::kRequireAndVerify;
  if (!verifies && !tls.client_ca_file.empty()) {
    throw Invalid{"client_ca_file is given, but client_auth_type verifies no client certificate"};
  }
  const std::string min = Text(node, "min_version");
  tls.min_version = min.empty() ? TLS1_2_VERSION : Choose(kVersions, min, "min_version");
  const std::string max = Text(node, "max_version");
  tls.max_version = max.empty() ? 0 : Choose(kVersions, max, "max_version");
  if (tls.max_version != 0 && tls.max_version < tls.min_version) {
    throw Invalid{"max_version is below min_version"};
  }
  if (const YAML::Node prefer = node["prefer_server_cipher_suites"]) {
    tls.prefer_server_ciphers = prefer.as<bool>();
  }
  return tls;
}

}  // namespace

bool WebConfig::Load(const std::string& path, WebConfig* config, std::string* error) {
  *config = WebConfig();
  try {
    std::ifstream file(path);
    if (!file) throw Invalid{std::string("cannot be read: ") + std::strerror(errno)};
    const YAML::Node root = YAML::Load(file);
    if (root.IsNull()) return true;
    ExpectKeys(root, "the file", {"tls_server_config", "http_server_config", "basic_auth_users"});
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (const YAML::Node tls = root["tls_server_config"]; tls && !tls.IsNull()) {
      config->tls = ReadTls(tls, folder);
    }
    if (const YAML::Node http = root["http_server_config"]; http && !http.IsNull()) {
      ExpectKeys(http, "http_server_config", {"http2", "headers"});
      if (const YAML::Node headers = http["headers"]; headers && !headers.IsNull()) {
        if (!headers.IsMap()) throw Invalid{"http_server_config.headers is not a mapping"};
        for (const auto& entry : headers) {
          config->headers[entry.first.as<std::string>()] = entry.second.as<std::string>();
        }
      }
    }
    if (const YAML::Node users = root["basic_auth_users"]; users && !users.IsNull()) {
      if (!users.IsMap()) throw Invalid{"basic_auth_users is not a mapping"};
      for (const auto& entry : users) {
        const std::string user = entry.first.as<std::string>();
        const std::string hash = entry.second.IsScalar() ? entry.second.as<std::string>() : "";
        if (user.empty() || user.find(':') != std::string::npos) {
          throw Invalid{"user name \"" + user + "\" is empty or holds a colon"};
        }
        if (!IsBcrypt(hash)) throw Invalid{"the password of user " + user + " is no bcrypt hash"};
        config->users[user] = hash;
      }
    }
    return true;
  } catch (const Invalid& invalid) {
    *error = path + ": " + invalid.what;
  } catch (const YAML::Exception& exception) {
    *error = path + ": " + exception.what();
  }
  *config = WebConfig();
  return false;
}

std::vector<std::string> WebConfig::Files() const {
  if (!tls) return {};
  std::vector<std::string> files = {tls->cert_file, tls->key_file};
  if (!tls->client_ca_file.empty()) files.push_back(tls->client_ca_file);
  return files;
}

}  // namespace callsink
