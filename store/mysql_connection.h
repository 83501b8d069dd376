#pragma once

#include <mysql.h>

#include <cstdint>
#include <string>

#include "config/database_tls_setting.h"

namespace callsink {

// Limits for each blocking call to the server, in seconds (at least 1).
struct MySqlTimeouts {
  unsigned int connect_seconds;  // reaching the server and its greeting
  unsigned int read_seconds;     // each answer: ping, statement, result
  unsigned int write_seconds;    // each statement handed to the network
};

// What protects an open session's link.
struct MySqlTlsState {
  bool encrypted = false;
  std::string cipher;          // "" without TLS
  int64_t not_after_unix = 0;  // the server certificate's end, seconds since 1970; 0: unknown
};

// Owns one client library connection handle (MYSQL*) and closes it exactly
// once. Empty means "not connected". Movable, not copyable; used by one thread.
class MySqlConnection {
 public:
  // 10 s connect (a reachable server greets within milliseconds; the worker
  // retries every 10 s anyway), 30 s read and write (far above any statement
  // of either program, long enough to ride out a short lock wait or stall).
  static constexpr MySqlTimeouts kDefaultTimeouts = {10, 30, 30};
  // The connection's character set: a single-byte set that maps each of the
  // 256 byte values to its own character, so no 8-bit name is ever rejected
  // or changed on its way into a table of any character set and back.
  static constexpr const char* kCharacterSet = "latin1";

  MySqlConnection() = default;
  // Takes ownership of `handle` (may be null).
  explicit MySqlConnection(MYSQL* handle) : handle_(handle) {}
  ~MySqlConnection() { Close(); }
  MySqlConnection(const MySqlConnection&) = delete;
  MySqlConnection& operator=(const MySqlConnection&) = delete;
  MySqlConnection(MySqlConnection&& other) noexcept;
  MySqlConnection& operator=(MySqlConnection&& other) noexcept;

  MYSQL* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // Connects to the server at `host` (port 0 and no socket: the client
  // library's defaults; "localhost" is the local socket) as `user`, with no
  // database selected, each call bounded by `timeouts`, kCharacterSet on the
  // connection, the library's automatic reconnect off, and the session's
  // SQL modes without NO_BACKSLASH_ESCAPES and ANSI_QUOTES (so that escaped
  // double-quoted values are values in every server), its link protected as
  // `tls` says. A session that asked for TLS and runs without it is closed
  // and counts as failed, as is a setting that cannot be followed (an
  // invalid mode, a file that cannot be read, a key without certificate, a
  // fingerprint the library cannot check). Closes any handle held before.
  // False when that fails: the object then holds the failed handle, so that
  // ErrorText() says why, or is empty when the library had no memory for
  // one.
  bool Open(const std::string& host, const std::string& user, const std::string& password,
            const DatabaseTlsSetting& tls = {}, const MySqlTimeouts& timeouts = kDefaultTimeouts);

  // Why the last Open failed, or the library's text of the last call's
  // error; "" when nothing is held.
  std::string ErrorText() const;
  // The link of a session Open brought up.
  const MySqlTlsState& tls_state() const { return tls_state_; }

  // mysql_close when a handle is held; the object is empty afterwards.
  void Close();

 private:
  bool ApplyTls(const DatabaseTlsSetting& tls);
  bool CheckTls(const DatabaseTlsSetting& tls);
  bool Fail(std::string reason);

  MYSQL* handle_ = nullptr;
  std::string failure_;  // our own reason why Open failed; "": the library's
  MySqlTlsState tls_state_;
};

}  // namespace callsink
