#pragma once

#include <string>

namespace callsink {

// The systemd unit that runs the service: its file name, its text, and the
// file itself. The standalone launcher writes the same file below
// CALLSINK_ROOT and takes its presence as "installed". Stateless; any thread.
class ServiceUnit {
 public:
  // "acd-service" for "ACD Service": lower case, every character a unit
  // name cannot hold (blanks among them) turned into '-'.
  static std::string Stem(const std::string& service_name);
  // Stem + ".service".
  static std::string FileName(const std::string& service_name);

  // The unit text from service/acd-service.service.in: ExecStart with the
  // quoted executable path and "-name=<service name>", the description, the
  // account the service runs as (user and group of that name) and the one
  // folder it may write besides its state folder, `log_folder`. Empty when a
  // path is not absolute or holds a character systemd refuses in a path
  // (quotes, backslash, control characters), a text holds a control
  // character, or `account` is not a plain user name.
  static std::string Text(const std::string& service_name, const std::string& description,
                          const std::string& executable_path, const std::string& account,
                          const std::string& log_folder);
  // The unit "-register" writes: run as root, the logs folder beside the
  // executable.
  static std::string Text(const std::string& service_name, const std::string& description,
                          const std::string& executable_path);

  // The executable a unit text runs: the first word of its ExecStart line,
  // unquoted and unescaped as Text wrote it. Empty when there is none.
  static std::string ExecutableOf(const std::string& text);

  // The unit file systemd loads for `file_name`: the administrator's in
  // `admin_directory` when there is one, else the package's in
  // `package_directory` when there is one, else the administrator's path.
  static std::string Locate(const std::string& admin_directory,
                            const std::string& package_directory, const std::string& file_name);

  // Writes `text` as `path` (mode 0644), creating the folder when missing.
  // The file appears complete or not at all, and an existing file is never
  // replaced: false with errno EEXIST then, false with the system's errno on
  // any other failure.
  static bool Create(const std::string& path, const std::string& text);
  // Create with the text "-register" writes for the service; false with
  // errno EINVAL when Text refuses its parts.
  static bool CreateRegistered(const std::string& path, const std::string& service_name,
                               const std::string& description, const std::string& executable);
  static bool Exists(const std::string& path);
  // The text of the unit file at `path`; empty when it cannot be read.
  static std::string Read(const std::string& path);
};

}  // namespace callsink
