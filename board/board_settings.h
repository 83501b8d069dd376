#pragma once

#include <map>
#include <string>
#include <vector>

namespace callsink {

// What callsinkboard is told: /etc/callsink/board.conf (below CALLSINK_ROOT;
// "key = value" lines, "#" comments) and then the command line's flags of
// the same names (--key VALUE or --key=VALUE), which win.
struct BoardSettings {
  static constexpr const char* kDefaultFile = "/etc/callsink/board.conf";

  std::string listen_host = "127.0.0.1";
  int listen_port = 9670;
  std::string database_host = "localhost";
  int database_port = 0;  // 0: the client library's default
  std::string user;
  std::string password;   // read from password-file, never given itself
  std::string time_zone;  // IANA name; "": the host's zone
  int service_level_seconds = 20;
  int service_level_target = 80;  // per cent
  int longest_wait_limit = 120;   // seconds
  int refresh_seconds = 2;
  // The ACD server's status codes and their names; a code not listed is
  // shown as "Status N".
  std::map<int, std::string> status_names = {
      {0, "Logged out"}, {1, "Available"}, {2, "Busy"}, {3, "Wrap-up"}, {4, "Break"}};
  int queued_call_state = 1;  // the call state of a call waiting in a queue
  // A web configuration file (TLS, basic authentication) as the collector's
  // endpoint takes; "": plain HTTP.
  std::string web_config;

  // Reads the file (the one --config names, or kDefaultFile, which may be
  // missing) and the flags of `arguments` (without the program's name).
  // False with `*error` set on an unknown key, a value that does not read
  // or a password file that cannot be read.
  bool Load(const std::vector<std::string>& arguments, std::string* error);

  // The name of a status code.
  std::string StatusName(int code) const;

 private:
  bool Set(const std::string& key, const std::string& value, std::string* error);
};

}  // namespace callsink
