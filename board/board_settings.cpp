#include "board/board_settings.h"

#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "platform/system_paths.h"

namespace callsink {
namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::optional<int> ReadNumber(const std::string& text, int low, int high) {
  int value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

// "HOST:PORT" or "HOST" into its parts; false on a port that does not read.
bool SplitAddress(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    *host = text;
    return !host->empty();
  }
  const std::optional<int> number = ReadNumber(text.substr(colon + 1), 1, 65535);
  if (!number || colon == 0) return false;
  *host = text.substr(0, colon);
  *port = *number;
  return true;
}

// "0:Logged out, 1:Available" into a table.
bool ReadStatusNames(const std::string& text, std::map<int, std::string>* names) {
  std::map<int, std::string> read;
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');) {
    const size_t colon = entry.find(':');
    if (colon == std::string::npos) return false;
    const std::optional<int> code = ReadNumber(Trim(entry.substr(0, colon)), -1000000, 1000000);
    const std::string name = Trim(entry.substr(colon + 1));
    if (!code || name.empty()) return false;
    read[*code] = name;
  }
  if (read.empty()) return false;
  *names = std::move(read);
  return true;
}

}  // namespace

bool BoardSettings::Set(const std::string& key, const std::string& value, std::string* error) {
  const auto number = [&](int* field, int low, int high) {
    const std::optional<int> read = ReadNumber(value, low, high);
    if (read) *field = *read;
    return read.has_value();
  };
  bool good = true;
  if (key == "listen") {
    good = SplitAddress(value, &listen_host, &listen_port);
  } else if (key == "database") {
    database_port = 0;
    good = SplitAddress(value, &database_host, &database_port);
  } else if (key == "user") {
    user = value;
  } else if (key == "password-file") {
    std::ifstream file(value);
    if (!file) {
      *error = "cannot read the password file " + value;
      return false;
    }
    std::getline(file, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
  } else if (key == "time-zone") {
    time_zone = value;
  } else if (key == "service-level") {
    good = number(&service_level_seconds, 0, 86400);
  } else if (key == "service-level-target") {
    good = number(&service_level_target, 0, 100);
  } else if (key == "longest-wait-limit") {
    good = number(&longest_wait_limit, 0, 86400);
  } else if (key == "refresh") {
    good = number(&refresh_seconds, 1, 3600);
  } else if (key == "status-names") {
    good = ReadStatusNames(value, &status_names);
  } else if (key == "queued-call-state") {
    good = number(&queued_call_state, -1000000, 1000000);
  } else if (key == "web-config") {
    web_config = value;
  } else if (key == "password") {
    *error = "a password is never given itself: use password-file";
    return false;
  } else {
    *error = "unknown setting " + key;
    return false;
  }
  if (!good) *error = "the value of " + key + " does not read: " + value;
  return good;
}

bool BoardSettings::Load(const std::vector<std::string>& arguments, std::string* error) {
  std::vector<std::pair<std::string, std::string>> flags;
  std::string file = SystemPaths::Resolve(kDefaultFile);
  bool file_named = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!argument.starts_with("--") || argument.size() == 2) {
      *error = "unexpected argument " + argument;
      return false;
    }
    const size_t equals = argument.find('=');
    std::string key =
        argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      *error = "--" + key + " needs a value";
      return false;
    }
    if (key == "config") {
      file = value;
      file_named = true;
    } else {
      flags.emplace_back(std::move(key), std::move(value));
    }
  }
  std::ifstream lines(file);
  if (!lines && file_named) {
    *error = "cannot read " + file;
    return false;
  }
  int line_number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++line_number;
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      *error = file + ":" + std::to_string(line_number) + ": not \"key = value\"";
      return false;
    }
    if (!Set(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), error)) {
      *error = file + ":" + std::to_string(line_number) + ": " + *error;
      return false;
    }
  }
  for (const auto& [key, value] : flags) {
    if (!Set(key, value, error)) return false;
  }
  return true;
}

std::string BoardSettings::StatusName(int code) const {
  const auto found = status_names.find(code);
  return found != status_names.end() ? found->second : "Status " + std::to_string(code);
}

}  // namespace callsink
