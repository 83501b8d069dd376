#include "tools/callsinkctl/command_line.h"

namespace callsink {

const std::set<std::string> CommandLine::kValueOptions = {
    "server", "port", "mysql-server", "user", "config",
    // database tls
    "ca", "cert", "key",
    // report
    "from", "until", "interval", "time-zone", "group", "format"};
const std::set<std::string> CommandLine::kFlags = {"password-stdin", "yes"};

bool CommandLine::Parse(const std::vector<std::string>& args) {
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || !arg.starts_with("--")) {
      words_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    if (name == "password") {
      error_ = "a password is never given on the command line: use --password-stdin";
      return false;
    }
    if (kFlags.contains(name)) {
      if (equals != std::string::npos) {
        error_ = "option --" + name + " takes no value";
        return false;
      }
      flags_.insert(name);
    } else if (kValueOptions.contains(name)) {
      if (equals != std::string::npos) {
        values_[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        values_[name] = args[++i];
      } else {
        error_ = "option --" + name + " needs a value";
        return false;
      }
    } else {
      error_ = "unknown option --" + name;
      return false;
    }
  }
  return true;
}

std::optional<std::string> CommandLine::Value(const std::string& name) const {
  const auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::string CommandLine::FirstOptionOutside(const std::set<std::string>& accepted) const {
  for (const auto& [name, value] : values_) {
    if (!accepted.contains(name)) return name;
  }
  for (const std::string& name : flags_) {
    if (!accepted.contains(name)) return name;
  }
  return {};
}

}  // namespace callsink
