#pragma once

#include <cstdint>
#include <string>

#include "config/database_tls_setting.h"

namespace callsink {

// One configured ACD server, as the run loop hands it to a worker thread.
// Built completely before the thread starts; from then on it belongs to the
// worker.
struct ServerConfig {
  std::string acdServer;  // dotted IPv4 address; also the log name and Serv_Name
  int32_t acdPort = 0;    // the worker connects with its low 16 bits
  std::string mysqlServer;
  std::string mysqlUser;
  std::string mysqlPassword;
  std::string registryPath;        // the configuration's own key, where Status goes
  DatabaseTlsSetting databaseTls;  // every configuration's, from the Database key
  uint32_t retentionDays = 0;      // days of history kept of the server; 0: all of it
};

}  // namespace callsink
