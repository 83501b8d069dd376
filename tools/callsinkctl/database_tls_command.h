#pragma once

#include <iosfwd>
#include <string>

#include "tools/callsinkctl/command_line.h"

namespace callsink {

// `callsinkctl database tls [MODE] [--ca FILE] [--cert FILE --key FILE]`:
// shows the TLS setting of the database sessions (DatabaseTlsSetting) or
// sets it in the configuration store, creating the key when missing. Files
// are stored as absolute paths; options not given stay as they are; an
// empty FILE clears the value. The collector reads the setting when it
// starts (callsinkctl apply).
//
// `line` holds "database tls ..."; `registry_file` is the store. Results go
// to `out`, errors to `err`. Returns ControlTool's exit codes.
int RunDatabaseTlsCommand(const CommandLine& line, const std::string& registry_file,
                          std::ostream& out, std::ostream& err);

}  // namespace callsink
