#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace callsink {

// How every MySQL session of both programs protects its link, from the
// configuration store: the key Database beside the Configs key, which the
// manager's rewrite of the Configs key leaves alone. Every value is
// optional; a missing key is the default (no TLS).
struct DatabaseTlsSetting {
  static constexpr const char* kKey = "Software\\Orvanta Technologies\\ACD Service\\Database";
  static constexpr const char* kModeValue = "TLS";
  static constexpr const char* kCaValue = "CA";
  static constexpr const char* kCertValue = "Cert";
  static constexpr const char* kKeyValue = "Key";
  static constexpr const char* kFingerprintValue = "Fingerprint";

  enum class Mode {
    kOff,             // no TLS
    kRequired,        // encrypted, the certificate is not checked
    kVerifyCa,        // the server's certificate must chain to `ca`
    kVerifyIdentity,  // also its name must match the host connected to
    kInvalid,         // a TLS value that names no mode: no session is opened
  };

  Mode mode = Mode::kOff;
  std::string mode_text;    // the TLS value as stored ("" when missing)
  std::string ca;           // PEM file of trusted CAs; "": the system's store
  std::string cert, key;    // PEM files of a client certificate and its key; "": none
  std::string fingerprint;  // hex of the server certificate's fingerprint; "": not pinned

  // Reads the setting from an open store; values it cannot read count as
  // missing.
  static DatabaseTlsSetting Read(Registry& registry);

  // The mode a TLS value names (case-insensitive; "" is off), or empty.
  static std::optional<Mode> ParseMode(std::string_view text);
  // The value's text of a valid mode ("off", "required", ...).
  static const char* ModeName(Mode mode);
  // "off, required, verify-ca, verify-identity", for messages.
  static const char* ModeNames();

  bool encrypted() const { return mode != Mode::kOff; }
};

}  // namespace callsink
