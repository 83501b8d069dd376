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

  // The unit text: Type=notify, ExecStart with the quoted executable path
  // and "-name=<service name>", the description, WantedBy=multi-user.target.
  // Empty when `executable_path` is not absolute or holds a character
  // systemd refuses in an executable name (quotes, backslash, control
  // characters).
  static std::string Text(const std::string& service_name, const std::string& description,
                          const std::string& executable_path);

  // The executable a unit text runs: the first word of its ExecStart line,
  // unquoted and unescaped as Text wrote it. Empty when there is none.
  static std::string ExecutableOf(const std::string& text);

  // Writes `text` as `path` (mode 0644), creating the folder when missing.
  // The file appears complete or not at all, and an existing file is never
  // replaced: false with errno EEXIST then, false with the system's errno on
  // any other failure.
  static bool Create(const std::string& path, const std::string& text);
  static bool Exists(const std::string& path);
  // The text of the unit file at `path`; empty when it cannot be read.
  static std::string Read(const std::string& path);
};

}  // namespace callsink
