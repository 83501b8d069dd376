#include "service/service_unit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/file_descriptor.h"
#include "service/service_unit_template.h"

namespace callsink {
namespace {

bool IsUnitNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' || c == '_' || c == '.' ||
         c == '-';
}

bool IsControlCharacter(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < 0x20 || code == 0x7f;
}

// '%' starts a specifier everywhere in a unit file.
std::string EscapeSpecifiers(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '%') escaped += '%';
    escaped += c;
  }
  return escaped;
}

// A double-quoted ExecStart argument: C escapes inside the quotes, and
// "$" would otherwise start a variable.
std::string QuotedArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : EscapeSpecifiers(argument)) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (c == '$') quoted += '$';
    quoted += c;
  }
  return quoted + '"';
}

// Absolute, and nothing systemd refuses in a path whatever the quoting.
bool IsUsablePath(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  for (char c : path) {
    if (c == '"' || c == '\\' || c == '\'' || IsControlCharacter(c)) return false;
  }
  return true;
}

bool IsUserName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return false;
  }
  return true;
}

// Replaces each "@NAME@" of `text` whose NAME `values` holds, in one pass, so
// that a value is never read as a placeholder itself.
std::string Fill(const std::string& text, const std::map<std::string, std::string>& values) {
  std::string filled;
  size_t at = 0;
  while (at < text.size()) {
    const size_t open = text.find('@', at);
    const size_t close = open == std::string::npos ? open : text.find('@', open + 1);
    if (close == std::string::npos) break;
    const auto value = values.find(text.substr(open + 1, close - open - 1));
    if (value == values.end()) {
      filled += text.substr(at, close - at);
      at = close;
      continue;
    }
    filled += text.substr(at, open - at) + value->second;
    at = close + 1;
  }
  return filled + text.substr(at);
}

bool WriteAll(int fd, const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = write(fd, text.data() + written, text.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return false;
    written += static_cast<size_t>(result);
  }
  return true;
}

}  // namespace

std::string ServiceUnit::Stem(const std::string& service_name) {
  std::string stem;
  for (char c : service_name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    stem += IsUnitNameCharacter(c) ? c : '-';
  }
  return stem;
}

std::string ServiceUnit::FileName(const std::string& service_name) {
  return Stem(service_name) + ".service";
}

std::string ServiceUnit::Text(const std::string& service_name, const std::string& description,
                              const std::string& executable_path, const std::string& account,
                              const std::string& log_folder) {
  if (!IsUsablePath(executable_path) || !IsUsablePath(log_folder)) return {};
  if (!IsUserName(account)) return {};
  for (const std::string& text : {service_name, description}) {
    for (char c : text) {
      if (IsControlCharacter(c)) return {};
    }
  }
  // The executable name takes no "$" expansion, so only specifiers need
  // escaping there.
  const std::string exec_start =
      "\"" + EscapeSpecifiers(executable_path) + "\" " + QuotedArgument("-name=" + service_name);
  return Fill(kServiceUnitTemplate, {{"DESCRIPTION", EscapeSpecifiers(description)},
                                     {"EXEC_START", exec_start},
                                     {"ACCOUNT", account},
                                     {"LOG_FOLDER", EscapeSpecifiers(log_folder)}});
}

std::string ServiceUnit::Text(const std::string& service_name, const std::string& description,
                              const std::string& executable_path) {
  const std::string folder = std::filesystem::path(executable_path).parent_path().string();
  return Text(service_name, description, executable_path, "root", folder + "/logs");
}

std::string ServiceUnit::ExecutableOf(const std::string& text) {
  const std::string key = "\nExecStart=\"";
  const size_t start = text.find(key);
  if (start == std::string::npos) return {};
  const size_t end = text.find('"', start + key.size());
  if (end == std::string::npos) return {};
  std::string path;
  for (size_t i = start + key.size(); i < end; ++i) {
    path += text[i];
    if (text[i] == '%' && i + 1 < end && text[i + 1] == '%') ++i;
  }
  return path;
}

std::string ServiceUnit::Locate(const std::string& admin_directory,
                                const std::string& package_directory,
                                const std::string& file_name) {
  const std::string admin_path = admin_directory + "/" + file_name;
  const std::string package_path = package_directory + "/" + file_name;
  if (!Exists(admin_path) && Exists(package_path)) return package_path;
  return admin_path;
}

bool ServiceUnit::CreateRegistered(const std::string& path, const std::string& service_name,
                                   const std::string& description, const std::string& executable) {
  const std::string text = Text(service_name, description, executable);
  if (text.empty()) {
    errno = EINVAL;
    return false;
  }
  return Create(path, text);
}

bool ServiceUnit::Create(const std::string& path, const std::string& text) {
  if (Exists(path)) {
    errno = EEXIST;
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    errno = error.value();
    return false;
  }
  // Written under a temporary name and linked into place: readers never see
  // half a unit, and link() refuses to replace a file that appeared since.
  std::string temporary = path + ".XXXXXX";
  FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.valid()) return false;
  bool written =
      WriteAll(file.get(), text) && fchmod(file.get(), 0644) == 0 && fsync(file.get()) == 0;
  int saved_errno = errno;
  if (!file.Reset() && written) {
    written = false;
    saved_errno = errno;
  }
  if (written && link(temporary.c_str(), path.c_str()) != 0) {
    written = false;
    saved_errno = errno;
  }
  unlink(temporary.c_str());
  errno = saved_errno;
  return written;
}

bool ServiceUnit::Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string ServiceUnit::Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace callsink
