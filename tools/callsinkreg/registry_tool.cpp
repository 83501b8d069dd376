#include "tools/callsinkreg/registry_tool.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <ostream>

namespace callsink {
namespace {

constexpr const char* kUsageText =
    "usage: callsinkreg query KEY [NAME]\n"
    "       callsinkreg add KEY [NAME DATA [REG_SZ|REG_DWORD]]\n"
    "       callsinkreg delete KEY [NAME]\n"
    "       callsinkreg export\n"
    "KEY is a path below HKEY_LOCAL_MACHINE written with backslashes.\n";

const char* TypeName(RegistryType type) {
  return type == RegistryType::kDword ? "REG_DWORD" : "REG_SZ";
}

std::optional<RegistryType> ParseType(const std::string& text) {
  if (text == "REG_SZ") return RegistryType::kString;
  if (text == "REG_DWORD") return RegistryType::kDword;
  return std::nullopt;
}

// A DWORD is given in decimal or as 0x-prefixed hexadecimal and is stored as
// its decimal text; anything outside 0..4294967295 is refused.
std::optional<std::string> ParseDword(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  for (char c : digits) {
    const bool ok =
        hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
    if (!ok) return std::nullopt;
  }
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (value > UINT32_MAX) return std::nullopt;
  return std::to_string(value);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

RegistryTool::RegistryTool(std::string file, std::ostream& out, std::ostream& err)
    : registry_(std::move(file)), out_(out), err_(err) {}

int RegistryTool::Fail(const std::string& message) {
  err_ << "callsinkreg: " << message << "\n";
  return kFailure;
}

int RegistryTool::Usage(const std::string& message) {
  err_ << "callsinkreg: " << message << "\n" << kUsageText;
  return kUsage;
}

bool RegistryTool::OpenRegistry(Registry::OpenMode mode) {
  if (registry_.Open(mode)) return true;
  Fail(registry_.access_denied()
           ? registry_.error() +
                 "\ncallsinkreg needs root rights for the configuration store: run it as root, "
                 "for instance with sudo"
           : registry_.error());
  return false;
}

int RegistryTool::Run(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("no command given");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "query") return Query(rest);
  if (command == "add") return Add(rest);
  if (command == "delete") return Delete(rest);
  if (command == "export") return Export(rest);
  if (command == "--help" || command == "-h" || command == "help") {
    out_ << kUsageText;
    return kSuccess;
  }
  return Usage("unknown command " + Quoted(command));
}

int RegistryTool::Query(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Usage("query takes KEY [NAME]");
  const std::string key = Registry::NormalizeKey(args[0]);
  if (!OpenRegistry(Registry::OpenMode::kExisting)) return kFailure;
  // One snapshot, so that a listing never mixes two states of the key.
  std::vector<RegistryValue> values;
  std::vector<std::string> subkeys;
  std::string data;
  bool key_found = false;
  bool value_found = false;
  const bool read = registry_.Transaction([&] {
    key_found = registry_.KeyExists(key);
    if (!key_found) return true;
    if (args.size() == 2) {
      value_found = registry_.QueryValue(key, args[1], &data);
      return true;
    }
    return registry_.Values(key, &values) && registry_.SubKeys(key, &subkeys);
  });
  if (!read) return Fail(registry_.error());
  if (!key_found) return Fail("key " + Quoted(key) + " does not exist");
  if (args.size() == 2) {
    if (!value_found)
      return Fail("value " + Quoted(args[1]) + " of key " + Quoted(key) + " does not exist");
    out_ << data << "\n";
    return kSuccess;
  }
  for (const RegistryValue& value : values) {
    out_ << value.name << "\t" << TypeName(value.type) << "\t" << value.data << "\n";
  }
  for (const std::string& subkey : subkeys) {
    out_ << (key.empty() ? subkey : key + "\\" + subkey) << "\n";
  }
  return kSuccess;
}

int RegistryTool::Add(const std::vector<std::string>& args) {
  if (args.size() != 1 && args.size() != 3 && args.size() != 4) {
    return Usage("add takes KEY, or KEY NAME DATA [REG_SZ|REG_DWORD]");
  }
  const std::string key = Registry::NormalizeKey(args[0]);
  if (key.empty()) return Usage("add needs a key below HKEY_LOCAL_MACHINE");
  RegistryType type = RegistryType::kString;
  std::string data;
  if (args.size() >= 3) {
    data = args[2];
    if (args.size() == 4) {
      const std::optional<RegistryType> parsed = ParseType(args[3]);
      if (!parsed) return Usage("unknown value type " + Quoted(args[3]));
      type = *parsed;
    }
    if (type == RegistryType::kDword) {
      const std::optional<std::string> number = ParseDword(data);
      if (!number) return Usage("REG_DWORD data must be a number from 0 to 4294967295");
      data = *number;
    }
  }
  if (!OpenRegistry(Registry::OpenMode::kCreate)) return kFailure;
  const bool written = registry_.Transaction([&] {
    return registry_.CreateKey(key) &&
           (args.size() == 1 || registry_.SetValue(key, args[1], data, type));
  });
  if (!written) return Fail(registry_.error());
  return kSuccess;
}

int RegistryTool::Delete(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Usage("delete takes KEY [NAME]");
  const std::string key = Registry::NormalizeKey(args[0]);
  if (key.empty()) return Usage("delete needs a key below HKEY_LOCAL_MACHINE");
  if (!OpenRegistry(Registry::OpenMode::kExisting)) return kFailure;
  bool key_found = false;
  bool deleted = false;
  const bool done = registry_.Transaction([&] {
    key_found = registry_.KeyExists(key);
    if (key_found) {
      deleted = args.size() == 1 ? registry_.DeleteKey(key) : registry_.DeleteValue(key, args[1]);
    }
    return true;
  });
  if (!done) return Fail(registry_.error());
  if (!key_found) return Fail("key " + Quoted(key) + " does not exist");
  if (!deleted) {
    return Fail(args.size() == 2
                    ? "value " + Quoted(args[1]) + " of key " + Quoted(key) + " does not exist"
                    : registry_.error());
  }
  return kSuccess;
}

int RegistryTool::Export(const std::vector<std::string>& args) {
  if (!args.empty()) return Usage("export takes no arguments");
  if (!OpenRegistry(Registry::OpenMode::kExisting)) return kFailure;
  std::vector<std::string> keys;
  std::vector<std::pair<std::string, std::vector<RegistryValue>>> tree;
  const bool read = registry_.Transaction([&] {
    if (!registry_.AllKeys(&keys)) return false;
    keys.insert(keys.begin(), std::string());  // values set on the root itself
    for (const std::string& key : keys) {
      std::vector<RegistryValue> values;
      if (!registry_.Values(key, &values)) return false;
      tree.emplace_back(key, std::move(values));
    }
    return true;
  });
  if (!read) return Fail(registry_.error());
  for (const auto& [key, values] : tree) {
    if (!key.empty()) out_ << key << "\n";
    for (const RegistryValue& value : values) {
      out_ << key << "\t" << value.name << "\t" << TypeName(value.type) << "\t" << value.data
           << "\n";
    }
  }
  return kSuccess;
}

}  // namespace callsink
